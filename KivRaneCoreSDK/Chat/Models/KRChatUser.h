#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// A user named by a system chat notice (added to or removed from the chat). Plain value.
struct KRChatUser {
    std::optional<std::string> name;    // "name"
    std::optional<std::string> lname;   // "lname"
    std::optional<std::string> userId;  // "userId"

    /// Every key is lenient (anything but text gives absent); fails only for a non-object.
    static Result<KRChatUser, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
