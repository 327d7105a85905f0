#include "platform/Messaging/MessagingService.h"

#include <algorithm>
#include <utility>

#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingClient.h"

namespace kr::platform {

namespace {

const std::shared_ptr<MessagingService>& processService() {
    // Never destroyed, like the main queue it delivers on.
    static const auto* const service =
        new std::shared_ptr<MessagingService>(MessagingService::create());
    return *service;
}

}  // namespace

std::shared_ptr<MessagingService> MessagingService::create() {
    return std::shared_ptr<MessagingService>(new MessagingService());
}

std::shared_ptr<MessagingService> MessagingService::current() {
    return processService();
}

MessagingService::~MessagingService() = default;

void MessagingService::failNext(MessagingOperation operation, int code, std::string userId) {
    std::lock_guard lock(mutex_);
    failures_[operation].push_back(Failure{code, std::move(userId)});
}

std::optional<int> MessagingService::takeFailureLocked(MessagingOperation operation,
                                                       const std::string& userId) {
    auto queued = failures_.find(operation);
    if (queued == failures_.end()) {
        return std::nullopt;
    }
    auto& list = queued->second;
    auto match = std::find_if(list.begin(), list.end(), [&](const Failure& failure) {
        return failure.userId.empty() || failure.userId == userId;
    });
    if (match == list.end()) {
        return std::nullopt;
    }
    const int code = match->code;
    list.erase(match);
    return code;
}

void MessagingService::deliverPeerLocked(MessagingClient& receiver, const std::string& fromUserId,
                                         const std::string& text) {
    receiver.queue_->post([weak = receiver.weak_from_this(), epoch = receiver.loginEpoch_,
                           message = MessagingMessage{text}, fromUserId] {
        auto client = weak.lock();  // keeps the client alive while its delegate runs
        if (!client) {
            return;
        }
        std::shared_ptr<MessagingClientDelegate> delegate;
        {
            std::lock_guard lock(client->service_->mutex_);
            if (client->loginEpoch_ != epoch) {  // logged out (or in again) since the send
                return;
            }
            delegate = client->delegate_.lock();
        }
        if (delegate) {
            delegate->messageReceived(message, fromUserId);
        }
    });
}

void MessagingService::deliverChannelLocked(MessagingChannel& receiver,
                                            const std::string& fromUserId,
                                            const std::string& text) {
    receiver.client_->queue_->post([weak = receiver.weak_from_this(), epoch = receiver.joinEpoch_,
                                    message = MessagingMessage{text},
                                    member = MessagingMember{fromUserId, receiver.channelId_}] {
        auto channel = weak.lock();  // keeps the channel alive while its delegate runs
        if (!channel) {
            return;
        }
        std::shared_ptr<MessagingChannelDelegate> delegate;
        {
            std::lock_guard lock(channel->client_->service_->mutex_);
            if (channel->joinEpoch_ != epoch) {  // left (or joined again) since the send
                return;
            }
            delegate = channel->delegate_.lock();
        }
        if (delegate) {
            delegate->messageReceived(message, member);
        }
    });
}

bool MessagingService::injectPeerMessage(const std::string& fromUserId, const std::string& toUserId,
                                         const std::string& text) {
    std::lock_guard lock(mutex_);
    auto session = sessions_.find(toUserId);
    if (session == sessions_.end()) {
        return false;
    }
    deliverPeerLocked(*session->second, fromUserId, text);
    return true;
}

std::size_t MessagingService::injectChannelMessage(const std::string& channelId,
                                                   const std::string& fromUserId,
                                                   const std::string& text) {
    std::lock_guard lock(mutex_);
    std::size_t receivers = 0;
    if (auto channel = channels_.find(channelId); channel != channels_.end()) {
        for (MessagingChannel* member : channel->second) {
            if (member->client_->userId_ != fromUserId) {
                deliverChannelLocked(*member, fromUserId, text);
                ++receivers;
            }
        }
    }
    return receivers;
}

std::vector<MessagingRecord> MessagingService::sentMessages() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void MessagingService::clearSentMessages() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

bool MessagingService::isOnline(const std::string& userId) const {
    std::lock_guard lock(mutex_);
    return sessions_.count(userId) > 0;
}

std::vector<std::string> MessagingService::channelMembers(const std::string& channelId) const {
    std::vector<std::string> members;
    std::lock_guard lock(mutex_);
    if (auto channel = channels_.find(channelId); channel != channels_.end()) {
        for (const MessagingChannel* member : channel->second) {
            members.push_back(member->client_->userId_);
        }
    }
    return members;
}

std::vector<std::shared_ptr<MessagingClient>> MessagingService::clients() const {
    std::vector<std::shared_ptr<MessagingClient>> live;
    std::lock_guard lock(mutex_);
    for (const auto& weak : clients_) {
        if (auto client = weak.lock()) {
            live.push_back(std::move(client));
        }
    }
    return live;
}

std::shared_ptr<MessagingClient> MessagingService::client(const std::string& userId) const {
    std::lock_guard lock(mutex_);
    auto session = sessions_.find(userId);
    return session == sessions_.end() ? nullptr : session->second->weak_from_this().lock();
}

}  // namespace kr::platform
