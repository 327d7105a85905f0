#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KivRaneCoreSDK/Common/Extensions/TextHash.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

struct KRMeetingParticipant;

/// The host app's contact list (handed over with the settings key "kr_contacts_array"), used to
/// show the host's own names for participants it knows. Each client uses the one of its
/// dependencies (by default the process-wide one).
/// Threading: confined to the main queue, where the host writes the list and the client and
/// its messaging connection read it (checked in debug builds).
class ContactSyncManager {
public:
    /// The process-wide instance, made on first use and never destroyed.
    static ContactSyncManager& shared();

    ContactSyncManager() = default;
    ContactSyncManager(const ContactSyncManager&) = delete;
    ContactSyncManager& operator=(const ContactSyncManager&) = delete;

    /// A copy of the contacts, in the host's order.
    std::vector<boost::json::object> contactsArray() const;
    /// Replaces the contacts (an empty list forgets them all).
    void setContactsArray(std::vector<boost::json::object> contacts);

    /// The "name" of the first contact whose "userId" is a string equal to `userID`, when that
    /// name is a string; nullopt when no contact matches or the first match has no string name.
    /// An empty `userID` never matches: a contact without an id must not name everyone who has
    /// none either.
    std::optional<std::string> getUpdatedPartipantName(std::string_view userID) const;

    /// The name to show for the user `userID` whom the server (or the user itself) calls
    /// `givenName`: the host's contact name for that user when it has a non-empty one, else
    /// `givenName`. Every name the client takes in goes through here, so one person never shows
    /// under two names and an empty contact name never blanks a name.
    std::string nameToShow(std::string_view userID, std::string givenName) const;

private:
    platform::SequenceChecker checker_;
    std::vector<boost::json::object> contacts_;
    /// userId -> name of the first contact with that id (nullopt when its name is not a string).
    std::unordered_map<std::string, std::optional<std::string>, TextHash, std::equal_to<>> namesById_;
};

}  // namespace kr
