#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Messaging/MessagingChannelDelegate.h"
#include "platform/Messaging/MessagingClient.h"
#include "platform/Messaging/MessagingMessage.h"
#include "platform/Messaging/MessagingSendOptions.h"

namespace kr::platform {

/// One channel of the stand-in messaging service as a client sees it; made by
/// MessagingClient::createChannelWithId. Its delegate (held weakly) receives the messages the
/// other members send while it is joined. Destroying it leaves the channel.
///
/// Threading: every method may be called from any thread; callbacks run on the client's queue.
class MessagingChannel : public std::enable_shared_from_this<MessagingChannel> {
public:
    using Completion = MessagingClient::Completion;

    ~MessagingChannel();
    MessagingChannel(const MessagingChannel&) = delete;
    MessagingChannel& operator=(const MessagingChannel&) = delete;

    /// Joins: kNotLoggedIn unless the client is logged in, kAlreadyInChannel when joined.
    void joinWithCompletion(Completion completion);
    /// Leaves (kNotInChannel when not joined); nothing more is delivered to this channel object.
    void leaveWithCompletion(Completion completion);
    /// Sends `message` to every other member (kNotInChannel when not joined).
    void sendMessage(const MessagingMessage& message, const MessagingSendOptions& options,
                     Completion completion);
    /// Replaces the receiver of channel messages; an empty pointer detaches it.
    void setChannelDelegate(std::weak_ptr<MessagingChannelDelegate> delegate);

    const std::string& channelId() const { return channelId_; }
    const std::shared_ptr<MessagingClient>& client() const { return client_; }
    bool isJoined() const;

private:
    friend class MessagingClient;
    friend class MessagingService;

    MessagingChannel(std::shared_ptr<MessagingClient> client, std::string channelId,
                     std::weak_ptr<MessagingChannelDelegate> delegate);

    // Guarded by the service mutex.
    void leaveLocked();

    const std::shared_ptr<MessagingClient> client_;
    const std::string channelId_;

    // Guarded by the service mutex.
    std::weak_ptr<MessagingChannelDelegate> delegate_;
    bool joined_ = false;
    std::uint64_t joinEpoch_ = 0;  // bumped when a membership ends
};

}  // namespace kr::platform
