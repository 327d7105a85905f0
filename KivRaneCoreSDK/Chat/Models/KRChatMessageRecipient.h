#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Delivery state of one chat message for one recipient. Plain value.
struct KRChatMessageRecipient {
    std::string userId;      // "userId"
    bool isDeleted = false;  // "isDeleted"
    bool isUnread = false;   // "isUnread"

    /// Every key is lenient (a missing or mistyped one gives ""/false); fails only when the value
    /// is not an object.
    static Result<KRChatMessageRecipient, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
