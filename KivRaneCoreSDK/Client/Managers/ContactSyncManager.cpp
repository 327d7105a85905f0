#include "KivRaneCoreSDK/Client/Managers/ContactSyncManager.h"

#include <mutex>

namespace kr {

ContactSyncManager& ContactSyncManager::shared() {
    // Leaked on purpose: decoders may still run while static objects are being destroyed.
    static ContactSyncManager* instance = new ContactSyncManager();
    return *instance;
}

std::vector<boost::json::object> ContactSyncManager::contactsArray() const {
    std::shared_lock lock(mutex_);
    return contacts_;
}

void ContactSyncManager::setContactsArray(std::vector<boost::json::object> contacts) {
    // Build the index outside the lock; only the swap is exclusive.
    std::unordered_map<std::string, std::optional<std::string>, Hash, std::equal_to<>> names;
    names.reserve(contacts.size());
    for (const auto& contact : contacts) {
        auto id = contact.find("userId");
        if (id == contact.end() || !id->value().is_string()) {
            continue;
        }
        std::optional<std::string> name;
        auto found = contact.find("name");
        if (found != contact.end() && found->value().is_string()) {
            name = std::string(found->value().get_string());
        }
        names.try_emplace(std::string(id->value().get_string()), std::move(name));  // first wins
    }
    std::unique_lock lock(mutex_);
    contacts_.swap(contacts);
    namesById_.swap(names);
}

std::optional<std::string> ContactSyncManager::getUpdatedPartipantName(
    std::string_view userID) const {
    if (userID.empty()) {
        return std::nullopt;
    }
    std::shared_lock lock(mutex_);
    auto it = namesById_.find(userID);
    if (it == namesById_.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace kr
