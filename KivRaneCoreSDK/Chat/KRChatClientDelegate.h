#pragma once

#include <string>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"

namespace kr {

class KRChatManager;

/// The host app's chat observer. Only messages pushed by the room socket, or missed by it while
/// it was away and fetched once it logged in again, are reported; messages fetched by the host and
/// sent ones are not. Callbacks run on the chat manager's queue after the message is in
/// the cache. Only the first method must be implemented.
class KRChatClientDelegate {
public:
    virtual ~KRChatClientDelegate() = default;

    /// A new message of the meeting's main thread.
    virtual void didRecieveNewChatMessage(KRChatManager& manager, const KRChatMessage& message) = 0;
    /// A new message of a private thread; `fromUserId` is the other user ("" when unknown).
    virtual void didRecievePrivateChatMessage(KRChatManager& /*manager*/,
                                              const KRChatMessage& /*message*/,
                                              const std::string& /*fromUserId*/) {}
    /// Never raised by the library; kept for hosts that implement it.
    virtual void didChatMessagesRefreshed(KRChatManager& /*manager*/,
                                          const std::vector<KRChatMessage>& /*messages*/) {}
};

}  // namespace kr
