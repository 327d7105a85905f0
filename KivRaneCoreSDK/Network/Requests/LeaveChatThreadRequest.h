#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRLeaveChatThread.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Takes the local user out of a chat thread: a DELETE of "chat/thread/<id>/leave" without a body.
/// A plain value: build it, send it once through the network client, read its outcome.
struct LeaveChatThreadRequest : KRAPIRequest<KRLeaveChatThread> {
    explicit LeaveChatThreadRequest(std::string_view threadID);
};

}  // namespace kr
