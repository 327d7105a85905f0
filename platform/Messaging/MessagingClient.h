#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Messaging/MessagingCall.h"
#include "platform/Messaging/MessagingClientDelegate.h"
#include "platform/Messaging/MessagingMessage.h"
#include "platform/Messaging/MessagingSendOptions.h"
#include "platform/Messaging/MessagingService.h"

namespace kr::platform {

class MessagingChannel;
class MessagingChannelDelegate;

/// A client of the stand-in messaging service: logs in with a token and a user id, makes channel
/// objects, and sends texts to one peer. Its delegate (held weakly) receives peer messages.
///
/// Completions receive a MessagingCodes value (0: success). They and all deliveries are posted
/// to the client's queue, so they never run inside the call; a completion is dropped when the
/// object that issued it (client or channel) is gone. Destroying the client logs it out; it is
/// safe to drop the last reference from inside one of its callbacks or completions. Channels
/// keep their client alive.
///
/// Threading: every method may be called from any thread; callbacks run on the queue.
class MessagingClient : public std::enable_shared_from_this<MessagingClient> {
public:
    using Completion = std::function<void(int code)>;

    /// A client for `appId`, or null when creation was made to fail (MessagingService::failNext).
    static std::shared_ptr<MessagingClient> create(
        std::string appId, std::weak_ptr<MessagingClientDelegate> delegate,
        std::shared_ptr<MessagingService> service = MessagingService::current(),
        std::shared_ptr<DispatchQueue> queue = MainQueue::current());
    ~MessagingClient();
    MessagingClient(const MessagingClient&) = delete;
    MessagingClient& operator=(const MessagingClient&) = delete;

    /// Logs in as `userId` (empty: kInvalidArgument; already logged in: kAlreadyLoggedIn).
    void loginByToken(const std::string& token, const std::string& userId, Completion completion);
    /// Logs out (kNotLoggedIn when not logged in); every channel of this client is left at once.
    void logoutWithCompletion(Completion completion);
    /// Replaces the receiver of peer messages; an empty pointer detaches it.
    void setDelegate(std::weak_ptr<MessagingClientDelegate> delegate);
    /// A channel object for `channelId` reporting to `delegate`, or null when the id is empty or
    /// creation was made to fail. It is not joined yet.
    std::shared_ptr<MessagingChannel> createChannelWithId(
        const std::string& channelId, std::weak_ptr<MessagingChannelDelegate> delegate);
    /// Sends `message` to the user `peerId`: kNotLoggedIn, kPeerUnreachable when that user is
    /// not online, else delivered and kOk.
    void sendMessage(const MessagingMessage& message, const std::string& peerId,
                     const MessagingSendOptions& options, Completion completion);

    const std::string& appId() const { return appId_; }
    const std::shared_ptr<MessagingService>& service() const { return service_; }
    /// The user id of the current login ("" when logged out).
    std::string userId() const;
    bool isLoggedIn() const;
    /// The calls received by this client and its channels, in order.
    std::vector<MessagingCall> callLog() const;
    /// The call log as "name(arguments)" texts.
    std::vector<std::string> callTexts() const;
    void clearCallLog();

private:
    friend class MessagingChannel;
    friend class MessagingService;

    MessagingClient(std::string appId, std::weak_ptr<MessagingClientDelegate> delegate,
                    std::shared_ptr<MessagingService> service,
                    std::shared_ptr<DispatchQueue> queue);

    // Guarded by service_->mutex_.
    void recordLocked(MessagingOperation operation, std::string arguments);
    void postCompletionLocked(std::weak_ptr<void> issuer, Completion completion, int code);
    void logoutLocked();
    bool isLoggedInLocked() const { return !userId_.empty(); }

    const std::string appId_;
    const std::shared_ptr<MessagingService> service_;
    const std::shared_ptr<DispatchQueue> queue_;

    // Guarded by service_->mutex_.
    std::weak_ptr<MessagingClientDelegate> delegate_;
    std::string userId_;            // empty while logged out
    std::uint64_t loginEpoch_ = 0;  // bumped when a login session ends
    std::vector<MessagingChannel*> channels_;
    std::vector<MessagingCall> calls_;
};

}  // namespace kr::platform
