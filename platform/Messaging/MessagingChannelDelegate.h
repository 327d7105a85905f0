#pragma once

#include "platform/Messaging/MessagingMember.h"
#include "platform/Messaging/MessagingMessage.h"

namespace kr::platform {

/// Receiver of the messages of one MessagingChannel. Optional (empty by default).
///
/// Threading: runs on the channel's client queue, never inside the send that caused it, and only
/// while the channel is alive, still joined in the session the message was sent to, and still
/// has this delegate.
class MessagingChannelDelegate {
public:
    virtual ~MessagingChannelDelegate() = default;

    /// `member` sent `message` on the channel (never this channel's own sends).
    virtual void messageReceived(const MessagingMessage& message, const MessagingMember& member) {
        (void)message, (void)member;
    }
};

}  // namespace kr::platform
