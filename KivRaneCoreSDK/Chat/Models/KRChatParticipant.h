#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// First and last name joined for display: "first last", or the first name alone when the last
/// name is empty. Shared by every chat record that shows a person.
std::string joinChatDisplayName(std::string_view first, std::string_view last);

/// A member of a chat thread, as listed in the thread. Plain value.
struct KRChatParticipant {
    std::string id;                    // "_id", required
    std::optional<std::string> name;   // "name"
    std::optional<std::string> lname;  // "lname"

    /// The display name; never absent.
    std::string getFullName() const;

    /// Fails for a non-object or when "_id" is missing, null or not text.
    static Result<KRChatParticipant, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
