#pragma once

#include <cstdint>
#include <string_view>

#include "KivRaneCoreSDK/Chat/Models/KRThreadChatMessages.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Fetches the newest page of a thread's history: GET "chat/thread/<id>/messages?limit=150&offset=0".
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetChatMessagesRequest : KRAPIRequest<KRThreadChatMessages> {
    /// Messages asked for per page.
    static constexpr std::int64_t kPageSize = 150;

    explicit GetChatMessagesRequest(std::string_view threadID);
};

}  // namespace kr
