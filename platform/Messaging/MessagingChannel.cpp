#include "platform/Messaging/MessagingChannel.h"

#include <utility>
#include <vector>

#include "platform/Messaging/MessagingCodes.h"

namespace kr::platform {

MessagingChannel::MessagingChannel(std::shared_ptr<MessagingClient> client, std::string channelId,
                                   std::weak_ptr<MessagingChannelDelegate> delegate)
    : client_(std::move(client)),
      channelId_(std::move(channelId)),
      delegate_(std::move(delegate)) {}

MessagingChannel::~MessagingChannel() {
    std::lock_guard lock(client_->service_->mutex_);
    leaveLocked();
    std::erase(client_->channels_, this);
}

void MessagingChannel::leaveLocked() {
    if (!joined_) {
        return;
    }
    auto& channels = client_->service_->channels_;
    if (auto members = channels.find(channelId_); members != channels.end()) {
        std::erase(members->second, this);
        if (members->second.empty()) {
            channels.erase(members);
        }
    }
    joined_ = false;
    ++joinEpoch_;
}

void MessagingChannel::joinWithCompletion(Completion completion) {
    auto& service = *client_->service_;
    std::lock_guard lock(service.mutex_);
    client_->recordLocked(MessagingOperation::joinWithCompletion, channelId_);
    int code = MessagingCodes::kOk;
    if (auto failure =
            service.takeFailureLocked(MessagingOperation::joinWithCompletion, client_->userId_)) {
        code = *failure;
    } else if (!client_->isLoggedInLocked()) {
        code = MessagingCodes::kNotLoggedIn;
    } else if (joined_) {
        code = MessagingCodes::kAlreadyInChannel;
    } else {
        joined_ = true;
        service.channels_[channelId_].push_back(this);
    }
    client_->postCompletionLocked(weak_from_this(), std::move(completion), code);
}

void MessagingChannel::leaveWithCompletion(Completion completion) {
    auto& service = *client_->service_;
    std::lock_guard lock(service.mutex_);
    client_->recordLocked(MessagingOperation::leaveWithCompletion, channelId_);
    int code = MessagingCodes::kOk;
    if (auto failure =
            service.takeFailureLocked(MessagingOperation::leaveWithCompletion, client_->userId_)) {
        code = *failure;
    } else if (!joined_) {
        code = MessagingCodes::kNotInChannel;
    } else {
        leaveLocked();
    }
    client_->postCompletionLocked(weak_from_this(), std::move(completion), code);
}

void MessagingChannel::sendMessage(const MessagingMessage& message,
                                   const MessagingSendOptions& options, Completion completion) {
    (void)options;
    auto& service = *client_->service_;
    std::lock_guard lock(service.mutex_);
    client_->recordLocked(MessagingOperation::sendChannelMessage, channelId_ + ", " + message.text);
    const std::string& sender = client_->userId_;
    int code = MessagingCodes::kOk;
    if (auto failure = service.takeFailureLocked(MessagingOperation::sendChannelMessage, sender)) {
        code = *failure;
    } else if (!joined_) {
        code = MessagingCodes::kNotInChannel;
    } else {
        for (MessagingChannel* member : service.channels_[channelId_]) {
            if (member != this && member->client_->userId_ != sender) {
                service.deliverChannelLocked(*member, sender, message.text);
            }
        }
    }
    service.records_.push_back(
        MessagingRecord{MessagingRecord::Route::channel, sender, channelId_, message.text, code});
    client_->postCompletionLocked(weak_from_this(), std::move(completion), code);
}

void MessagingChannel::setChannelDelegate(std::weak_ptr<MessagingChannelDelegate> delegate) {
    std::lock_guard lock(client_->service_->mutex_);
    client_->recordLocked(MessagingOperation::setChannelDelegate,
                          channelId_ + ", " + (delegate.expired() ? "none" : "delegate"));
    delegate_ = std::move(delegate);
}

bool MessagingChannel::isJoined() const {
    std::lock_guard lock(client_->service_->mutex_);
    return joined_;
}

}  // namespace kr::platform
