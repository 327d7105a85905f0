#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of the join call: the id of the server's call history entry. Plain value.
struct KRJoinCall {
    std::string historyId;

    /// Never fails: anything but a string "historyId" gives the empty string.
    static Result<KRJoinCall, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
