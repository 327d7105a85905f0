#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Read state of a thread's last message for one recipient, in the member list. Both keys are
/// required. Plain value.
struct Recipient {
    std::string userId;   // "userId"
    bool unread = false;  // "unread"

    static Result<Recipient, JsonDecodingError> fromJson(const boost::json::value& v);
    /// {"userId": ..., "unread": ...}, in that order.
    boost::json::object toJson() const;
};

}  // namespace kr
