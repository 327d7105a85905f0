#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Messaging/MessagingOperation.h"
#include "platform/Messaging/MessagingRecord.h"

namespace kr::platform {

class MessagingChannel;
class MessagingClient;

/// The in-process messaging service: clients log in under a user id, join channels by id, and
/// send texts to every other member of a channel or to one logged-in user. Messages from one
/// sender to one receiver arrive in send order; a channel message is not echoed to its sender;
/// a peer that is not online gets nothing and the sender gets kPeerUnreachable. Logging in with
/// a user id that another client holds takes it over: the older client is logged out.
///
/// Threading: every method may be called from any thread. One mutex guards the service and all
/// of its clients and channels; no callback runs while it is held.
class MessagingService {
public:
    static std::shared_ptr<MessagingService> create();
    /// The process service (made lazily, never replaced); clients made without a service use
    /// this one. Tests make services of their own and pass them in.
    static std::shared_ptr<MessagingService> current();

    MessagingService(const MessagingService&) = delete;
    MessagingService& operator=(const MessagingService&) = delete;
    ~MessagingService();

    /// Makes the next call of `operation` fail with `code`, on any client or, when `userId` is
    /// given, on the client of that user (for loginByToken: the user id logging in). A failed
    /// createClient makes no client, a failed createChannelWithId no channel; every other call
    /// changes nothing and passes `code` to its completion. Failures queue up per operation.
    void failNext(MessagingOperation operation, int code, std::string userId = {});

    /// Delivers `text` to the logged-in client of `toUserId` as a peer message from `fromUserId`
    /// (who need not exist). Returns false, delivering nothing, when that user is not online.
    bool injectPeerMessage(const std::string& fromUserId, const std::string& toUserId,
                           const std::string& text);
    /// Delivers `text` to every joined member of `channelId` except `fromUserId`, as a channel
    /// message from that user. Returns the number of receivers.
    std::size_t injectChannelMessage(const std::string& channelId, const std::string& fromUserId,
                                     const std::string& text);

    /// Every message clients tried to send, in order, with the code each sender got.
    std::vector<MessagingRecord> sentMessages() const;
    void clearSentMessages();
    bool isOnline(const std::string& userId) const;
    /// User ids of the joined members of a channel, in join order.
    std::vector<std::string> channelMembers(const std::string& channelId) const;
    /// The live clients, oldest first.
    std::vector<std::shared_ptr<MessagingClient>> clients() const;
    /// The client logged in as `userId`, or null.
    std::shared_ptr<MessagingClient> client(const std::string& userId) const;

private:
    friend class MessagingChannel;
    friend class MessagingClient;
    struct Failure {
        int code = 0;
        std::string userId;
    };

    MessagingService() = default;

    // Guarded by mutex_.
    std::optional<int> takeFailureLocked(MessagingOperation operation, const std::string& userId);
    void deliverPeerLocked(MessagingClient& receiver, const std::string& fromUserId,
                           const std::string& text);
    void deliverChannelLocked(MessagingChannel& receiver, const std::string& fromUserId,
                              const std::string& text);

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<MessagingClient>> clients_;
    std::map<std::string, MessagingClient*> sessions_;                // by user id
    std::map<std::string, std::vector<MessagingChannel*>> channels_;  // joined, in join order
    std::map<MessagingOperation, std::deque<Failure>> failures_;
    std::vector<MessagingRecord> records_;
};

}  // namespace kr::platform
