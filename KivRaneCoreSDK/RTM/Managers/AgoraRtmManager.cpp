#include "KivRaneCoreSDK/RTM/Managers/AgoraRtmManager.h"

#include <utility>

namespace kr {

std::shared_ptr<AgoraRtmManager> AgoraRtmManager::create(
    const KRDependencies& dependencies,
    std::shared_ptr<platform::NotificationCenter> notificationCenter) {
    std::shared_ptr<AgoraRtmManager> manager(
        new AgoraRtmManager(RtmConnection::create(dependencies, std::move(notificationCenter))));
    manager->connection_->setTextHandler(
        [weak = std::weak_ptr<AgoraRtmManager>(manager)](const std::string& text, bool onChannel) {
            if (auto self = weak.lock()) {
                self->didReceive(text, onChannel);
            }
        });
    return manager;
}

AgoraRtmManager::AgoraRtmManager(std::shared_ptr<RtmConnection> connection)
    : connection_(std::move(connection)) {}

AgoraRtmManager::~AgoraRtmManager() = default;

void AgoraRtmManager::setDelegate(std::weak_ptr<AgoraRtmManagerDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<AgoraRtmManagerDelegate> AgoraRtmManager::delegate() const {
    KR_DCHECK_RUN_ON(checker_);
    return delegate_.lock();
}

std::shared_ptr<platform::MessagingClient> AgoraRtmManager::rtmKit() const {
    return connection_->rtmKit();
}

std::shared_ptr<platform::MessagingChannel> AgoraRtmManager::rtmChannel() const {
    return connection_->rtmChannel();
}

void AgoraRtmManager::configureRtmKit(const std::string& appId, const std::string& token,
                                      const std::string& userId, const std::string& channelId) {
    // Registering again for a second meeting would send every host request twice.
    connection_->observeSendRequests();
    connection_->configure(appId, token, userId, channelId);
}

void AgoraRtmManager::leaveAndLogout() {
    connection_->stopObservingSendRequests();
    connection_->leaveAndLogout();
}

void AgoraRtmManager::sendMessage(const KRRtmMessage& message, SendCompletion completion) {
    connection_->sendMessage(message, std::move(completion));
}

void AgoraRtmManager::didReceive(const std::string& text, bool onChannel) {
    KR_DCHECK_RUN_ON(checker_);
    // Delivered as it came: the engine that owns this manager looks the sender's name up.
    const auto message = connection_->decodeReceived(text, onChannel);
    if (!message) {
        return;
    }
    if (auto delegate = delegate_.lock()) {
        if (onChannel) {
            delegate->didRecievePublicMessage(*message);
        } else {
            delegate->didRecievePrivateMessage(*message);
        }
    }
    connection_->log(KivRaneRMLogLevel::INFO,
                     std::string("Recieved RTM ") + (onChannel ? "Public" : "Private") +
                         " Message ::: " + std::string(rawValue(message->message)));
}

}  // namespace kr
