#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Chat/Models/KRChatThread.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Fetches a meeting's main chat thread: POST "chat/getThreadForChat/guest" (for every kind of
/// user) with the body {"kivraneId": meeting id}.
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetChatThreadRequest : KRAPIRequest<KRChatThread> {
    explicit GetChatThreadRequest(std::string_view kivraneID);
};

}  // namespace kr
