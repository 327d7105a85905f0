#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One page of a thread's history with the service's counters. Decoding never fails: whatever
/// does not fit is left absent, and one unreadable message drops the whole message list.
/// Plain value.
struct KRThreadChatMessages {
    std::optional<std::vector<KRChatMessage>> messages;  // "messages", in reply order
    std::optional<bool> moreAvailable;                   // "moreAvailable"
    std::optional<std::int64_t> totalCount;              // "totalCount"
    std::optional<std::int64_t> unreadCount;             // "unreadCount"

    static Result<KRThreadChatMessages, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
