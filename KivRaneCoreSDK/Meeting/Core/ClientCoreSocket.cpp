#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Notifications/ApplicationNotifications.h"

namespace kr {

// ---- The socket manager of a meeting ----

void ClientCore::openGuestSocket(const std::string& authToken) {
    const KRApiServer environment = networkClient_->getServerEnvironMent();
    webSocketManager_ = KRWebSocketManager::create(environment, authToken, deps_);
    startSocketService();
}

void ClientCore::openForwardedSocket() {
    webSocketManager_ = KRWebSocketManager::createForwarded(queue_, deps_.notifications);
    handleSocketCallBacks();
}

void ClientCore::releaseSocketManager() {
    stopSocketService();
    webSocketManager_.reset();
}

// ---- Start, stop, reconnect ----

void ClientCore::startSocketService() {
    KR_DCHECK_RUN_ON(checker_);
    if (!webSocketManager_) return;
    webSocketManager_->setIsConnectedToNetwork(true);
    webSocketManager_->setIsUserJoinedMeeting(true);
    webSocketManager_->setIsStartedManually(true);
    webSocketManager_->configureSocket();
    // configureSocket() runs no hook itself, so the manager is still there.
    handleSocketCallBacks();
}

void ClientCore::stopSocketService() {
    KR_DCHECK_RUN_ON(checker_);
    if (!webSocketManager_) return;
    webSocketManager_->setIsUserJoinedMeeting(false);
    webSocketManager_->releaseCurrentSocket();
    webSocketManager_->setIsStartedManually(false);
}

void ClientCore::reconnectSocket() {
    KR_DCHECK_RUN_ON(checker_);
    // The manager itself refuses unless the user joined: a failed or ended join gets no socket.
    if (webSocketManager_) webSocketManager_->reconnectSocket();
}

void ClientCore::disconnectSocketOnInterruption() {
    KR_DCHECK_RUN_ON(checker_);
    if (webSocketManager_) webSocketManager_->releaseCurrentSocket();
}

// ---- Hooks ----

void ClientCore::handleSocketCallBacks() {
    KR_DCHECK_RUN_ON(checker_);
    if (!webSocketManager_) return;
    const SessionToken session = sessionToken();
    // The room's news are the sync's; the chat the client's, under the sync's rule.
    roomSync_->listenTo(*webSocketManager_, session);
    webSocketManager_->onNewChatMessage = [weak = weak_from_this(),
                                           session](const KRChatMessage& message) {
        auto self = weak.lock();
        if (self && self->roomSync_->takesRoomNews(session)) {
            self->addChatMessageRecievedThrougSocket(message);
        }
    };
    // Chat posted while the socket was down or reconnecting was pushed to nobody here: once the
    // service takes a later login, the threads' newest pages bring it, under the same rule.
    webSocketManager_->onLoggedInAgain = [weak = weak_from_this(), session] {
        auto self = weak.lock();
        if (!self || !self->roomSync_->takesRoomNews(session)) return;
        self->chatClient_->fetchMissedMessages([weak, session] {
            auto core = weak.lock();
            return core && core->roomSync_->takesRoomNews(session);
        });
    };
}

// ---- Application life cycle ----

void ClientCore::addApplicationObservers() {
    removeApplicationObservers();
    // The host may post from any thread.
    const auto observe = [&](const char* name, void (*action)(ClientCore&)) {
        applicationObservers_.push_back(deps_.notifications->addObserver(
            name, [run = actionOnQueue(action)](const platform::Notification&) { run(); }));
    };
    observe(platform::ApplicationNotifications::didBecomeActive,
            [](ClientCore& c) { c.reconnectSocket(); });
    observe(platform::ApplicationNotifications::willResignActive,
            [](ClientCore& c) { c.disconnectSocketOnInterruption(); });
}

void ClientCore::removeApplicationObservers() {
    for (const auto token : applicationObservers_) {
        deps_.notifications->removeObserver(token);
    }
    applicationObservers_.clear();
}

}  // namespace kr
