#pragma once

#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"

namespace kr {

/// A private thread's id with messages of it, for the host app's own bookkeeping; the library
/// never makes one. Plain value.
struct KRPrivateChatThreadMessages {
    KRPrivateChatThreadMessages(std::string threadIdText, std::vector<KRChatMessage> list)
        : threadId(std::move(threadIdText)), messages(std::move(list)) {}

    std::string threadId;
    std::vector<KRChatMessage> messages;
};

}  // namespace kr
