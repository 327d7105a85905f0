#include "KivRaneCoreSDK/RTM/Managers/KRRtmManager.h"

#include <utility>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"

namespace kr {

std::shared_ptr<KRRtmManager> KRRtmManager::create(
    const KRDependencies& dependencies,
    std::shared_ptr<platform::NotificationCenter> notificationCenter,
    std::shared_ptr<const ContactSyncManager> contacts) {
    if (!contacts) contacts = dependencies.contacts;
    if (!contacts) contacts = std::make_shared<ContactSyncManager>();
    auto connection = RtmConnection::create(dependencies, std::move(notificationCenter));
    std::shared_ptr<KRRtmManager> manager(
        new KRRtmManager(std::move(connection), std::move(contacts)));
    manager->connection_->setTextHandler(
        [weak = std::weak_ptr<KRRtmManager>(manager)](const std::string& text, bool onChannel) {
            if (auto self = weak.lock()) {
                self->didReceive(text, onChannel);
            }
        });
    // The host may ask for sends for the manager's whole life, across meetings.
    manager->connection_->observeSendRequests();
    return manager;
}

KRRtmManager::KRRtmManager(std::shared_ptr<RtmConnection> connection,
                           std::shared_ptr<const ContactSyncManager> contacts)
    : connection_(std::move(connection)), contacts_(std::move(contacts)) {}

KRRtmManager::~KRRtmManager() = default;

void KRRtmManager::setDelegate(std::weak_ptr<KRRtmManagerDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<KRRtmManagerDelegate> KRRtmManager::delegate() const {
    KR_DCHECK_RUN_ON(checker_);
    return delegate_.lock();
}

std::shared_ptr<platform::MessagingClient> KRRtmManager::rtmKit() const {
    return connection_->rtmKit();
}

std::shared_ptr<platform::MessagingChannel> KRRtmManager::rtmChannel() const {
    return connection_->rtmChannel();
}

void KRRtmManager::configureRtmKit(const std::string& appId, const std::string& token,
                                   const std::string& userId, const std::string& channelId) {
    connection_->configure(appId, token, userId, channelId);
}

void KRRtmManager::leaveAndLogout() {
    connection_->leaveAndLogout();
}

void KRRtmManager::sendMessage(const KRRtmMessage& message, SendCompletion completion) {
    connection_->sendMessage(message, std::move(completion));
}

void KRRtmManager::didReceive(const std::string& text, bool onChannel) {
    KR_DCHECK_RUN_ON(checker_);
    auto decoded = connection_->decodeReceived(text, onChannel);
    if (!decoded) {
        return;
    }
    KRRtmMessage message = std::move(*decoded);
    // The host's contact list knows the sender better than the name the sender sent.
    message.senderName =
        contacts_->nameToShow(message.senderUserId, std::move(message.senderName));
    if (auto delegate = delegate_.lock()) {
        if (onChannel) {
            delegate->didRecievePublicMessage(message);
        } else {
            delegate->didRecievePrivateMessage(message);
        }
    }
    connection_->log(KivRaneRMLogLevel::INFO,
                     std::string("Recieved RTM ") + (onChannel ? "Public" : "Private") +
                         " Message ::: " + std::string(rawValue(message.message)));
}

}  // namespace kr
