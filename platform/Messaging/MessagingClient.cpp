#include "platform/Messaging/MessagingClient.h"

#include <utility>

#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingCodes.h"

namespace kr::platform {

std::shared_ptr<MessagingClient> MessagingClient::create(
    std::string appId, std::weak_ptr<MessagingClientDelegate> delegate,
    std::shared_ptr<MessagingService> service, std::shared_ptr<DispatchQueue> queue) {
    if (!service) {
        service = MessagingService::current();
    }
    {
        std::lock_guard lock(service->mutex_);
        if (service->takeFailureLocked(MessagingOperation::createClient, {})) {
            return nullptr;
        }
    }
    std::shared_ptr<MessagingClient> client(
        new MessagingClient(std::move(appId), std::move(delegate), service, std::move(queue)));
    std::lock_guard lock(service->mutex_);
    std::erase_if(service->clients_, [](const auto& weak) { return weak.expired(); });
    service->clients_.push_back(client);
    return client;
}

MessagingClient::MessagingClient(std::string appId, std::weak_ptr<MessagingClientDelegate> delegate,
                                 std::shared_ptr<MessagingService> service,
                                 std::shared_ptr<DispatchQueue> queue)
    : appId_(std::move(appId)),
      service_(std::move(service)),
      queue_(queue ? std::move(queue) : MainQueue::current()),
      delegate_(std::move(delegate)) {}

MessagingClient::~MessagingClient() {
    std::lock_guard lock(service_->mutex_);
    logoutLocked();
}

void MessagingClient::recordLocked(MessagingOperation operation, std::string arguments) {
    calls_.push_back(MessagingCall{operation, std::move(arguments)});
}

void MessagingClient::postCompletionLocked(std::weak_ptr<void> issuer, Completion completion,
                                           int code) {
    if (!completion) {
        return;
    }
    queue_->post([issuer = std::move(issuer), completion = std::move(completion), code] {
        if (auto alive = issuer.lock()) {  // kept alive while the completion runs
            completion(code);
        }
    });
}

void MessagingClient::logoutLocked() {
    for (MessagingChannel* channel : channels_) {
        channel->leaveLocked();
    }
    if (isLoggedInLocked()) {
        if (auto session = service_->sessions_.find(userId_);
            session != service_->sessions_.end() && session->second == this) {
            service_->sessions_.erase(session);
        }
        ++loginEpoch_;
        userId_.clear();
    }
}

void MessagingClient::loginByToken(const std::string& token, const std::string& userId,
                                   Completion completion) {
    std::lock_guard lock(service_->mutex_);
    recordLocked(MessagingOperation::loginByToken, token + ", " + userId);
    int code = MessagingCodes::kOk;
    if (auto failure = service_->takeFailureLocked(MessagingOperation::loginByToken, userId)) {
        code = *failure;
    } else if (userId.empty()) {
        code = MessagingCodes::kInvalidArgument;
    } else if (isLoggedInLocked()) {
        code = MessagingCodes::kAlreadyLoggedIn;
    } else {
        if (auto holder = service_->sessions_.find(userId); holder != service_->sessions_.end()) {
            MessagingClient* previous = holder->second;
            previous->logoutLocked();  // the newer login takes the user id over
        }
        service_->sessions_[userId] = this;
        userId_ = userId;
    }
    postCompletionLocked(weak_from_this(), std::move(completion), code);
}

void MessagingClient::logoutWithCompletion(Completion completion) {
    std::lock_guard lock(service_->mutex_);
    recordLocked(MessagingOperation::logoutWithCompletion, "");
    int code = MessagingCodes::kOk;
    if (auto failure =
            service_->takeFailureLocked(MessagingOperation::logoutWithCompletion, userId_)) {
        code = *failure;
    } else if (!isLoggedInLocked()) {
        code = MessagingCodes::kNotLoggedIn;
    } else {
        logoutLocked();
    }
    postCompletionLocked(weak_from_this(), std::move(completion), code);
}

void MessagingClient::setDelegate(std::weak_ptr<MessagingClientDelegate> delegate) {
    std::lock_guard lock(service_->mutex_);
    recordLocked(MessagingOperation::setDelegate, delegate.expired() ? "none" : "delegate");
    delegate_ = std::move(delegate);
}

std::shared_ptr<MessagingChannel> MessagingClient::createChannelWithId(
    const std::string& channelId, std::weak_ptr<MessagingChannelDelegate> delegate) {
    {
        std::lock_guard lock(service_->mutex_);
        recordLocked(MessagingOperation::createChannelWithId, channelId);
        if (service_->takeFailureLocked(MessagingOperation::createChannelWithId, userId_) ||
            channelId.empty()) {
            return nullptr;
        }
    }
    std::shared_ptr<MessagingChannel> channel(
        new MessagingChannel(shared_from_this(), channelId, std::move(delegate)));
    std::lock_guard lock(service_->mutex_);
    channels_.push_back(channel.get());
    return channel;
}

void MessagingClient::sendMessage(const MessagingMessage& message, const std::string& peerId,
                                  const MessagingSendOptions& options, Completion completion) {
    (void)options;
    std::lock_guard lock(service_->mutex_);
    recordLocked(MessagingOperation::sendPeerMessage, peerId + ", " + message.text);
    int code = MessagingCodes::kOk;
    if (auto failure = service_->takeFailureLocked(MessagingOperation::sendPeerMessage, userId_)) {
        code = *failure;
    } else if (!isLoggedInLocked()) {
        code = MessagingCodes::kNotLoggedIn;
    } else if (auto peer = service_->sessions_.find(peerId); peer == service_->sessions_.end()) {
        code = MessagingCodes::kPeerUnreachable;
    } else {
        service_->deliverPeerLocked(*peer->second, userId_, message.text);
    }
    service_->records_.push_back(
        MessagingRecord{MessagingRecord::Route::peer, userId_, peerId, message.text, code});
    postCompletionLocked(weak_from_this(), std::move(completion), code);
}

std::string MessagingClient::userId() const {
    std::lock_guard lock(service_->mutex_);
    return userId_;
}

bool MessagingClient::isLoggedIn() const {
    std::lock_guard lock(service_->mutex_);
    return isLoggedInLocked();
}

std::vector<MessagingCall> MessagingClient::callLog() const {
    std::lock_guard lock(service_->mutex_);
    return calls_;
}

std::vector<std::string> MessagingClient::callTexts() const {
    std::vector<std::string> texts;
    for (const auto& entry : callLog()) {
        texts.push_back(entry.text());
    }
    return texts;
}

void MessagingClient::clearCallLog() {
    std::lock_guard lock(service_->mutex_);
    calls_.clear();
}

}  // namespace kr::platform
