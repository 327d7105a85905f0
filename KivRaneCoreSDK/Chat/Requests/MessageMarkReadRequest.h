#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Marks a thread read up to one message: POST "chat/thread/<id>/messages/markread?previous=read"
/// with {"messageIds": [last message id]}.
/// A plain value: build it, send it once through the network client, read its outcome.
struct MessageMarkReadRequest : KRAPIRequest<KRAPISuccess> {
    MessageMarkReadRequest(std::string_view lastMessageId, std::string_view threadID);
};

}  // namespace kr
