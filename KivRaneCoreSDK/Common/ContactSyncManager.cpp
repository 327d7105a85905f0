#include "KivRaneCoreSDK/Common/ContactSyncManager.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

ContactSyncManager& ContactSyncManager::shared() {
    // Leaked on purpose: clients may still reach it while static objects are being destroyed.
    static ContactSyncManager* instance = new ContactSyncManager();
    return *instance;
}

std::vector<boost::json::object> ContactSyncManager::contactsArray() const {
    KR_DCHECK_RUN_ON(checker_);
    return contacts_;
}

void ContactSyncManager::setContactsArray(std::vector<boost::json::object> contacts) {
    KR_DCHECK_RUN_ON(checker_);
    std::unordered_map<std::string, std::optional<std::string>, TextHash, std::equal_to<>> names;
    names.reserve(contacts.size());
    for (auto& contact : contacts) {
        // Lent to a JSON value for reading and handed back; both moves keep the storage.
        boost::json::value entry(std::move(contact));
        {
            const JsonObjectReader r(entry);
            if (auto id = r.lenientOptional<std::string>("userId")) {
                names.try_emplace(std::move(*id), r.lenientOptional<std::string>("name"));
            }  // try_emplace: the first contact with an id wins
        }
        contact = std::move(entry.get_object());
    }
    contacts_.swap(contacts);
    namesById_.swap(names);
}

std::optional<std::string> ContactSyncManager::getUpdatedPartipantName(
    std::string_view userID) const {
    KR_DCHECK_RUN_ON(checker_);
    if (userID.empty()) {
        return std::nullopt;
    }
    auto it = namesById_.find(userID);
    if (it == namesById_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string ContactSyncManager::nameToShow(std::string_view userID, std::string givenName) const {
    if (auto name = getUpdatedPartipantName(userID); name && !name->empty()) {
        return std::move(*name);
    }
    return givenName;
}

}  // namespace kr
