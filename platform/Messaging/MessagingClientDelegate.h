#pragma once

#include <string>

#include "platform/Messaging/MessagingMessage.h"

namespace kr::platform {

/// Receiver of the peer messages of a MessagingClient. Optional (empty by default).
///
/// Threading: runs on the client's queue, never inside the send that caused it, and only while
/// the receiving client is alive, logged in with the session the message was sent to, and still
/// has this delegate.
class MessagingClientDelegate {
public:
    virtual ~MessagingClientDelegate() = default;

    /// A peer (`peerId`, its user id) sent `message` to this client's user.
    virtual void messageReceived(const MessagingMessage& message, const std::string& peerId) {
        (void)message, (void)peerId;
    }
};

}  // namespace kr::platform
