#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Chat/Models/KRChatThread.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Finds or opens the private thread of the local user and one other user: POST "chat/thread"
/// with {"members": [other, local], "context": local, "admins": [local]}.
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetPrivateChatThreadRequest : KRAPIRequest<KRChatThread> {
    GetPrivateChatThreadRequest(std::string_view userID, std::string_view currentUserID);
};

}  // namespace kr
