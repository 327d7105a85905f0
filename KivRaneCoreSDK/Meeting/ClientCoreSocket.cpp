#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Meeting/ClientCore.h"
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
    // A push concerns the meeting being joined or in progress. Like a status reply, one that
    // arrives once the leave has begun, or after a failed join (forwarded frames keep coming as
    // long as the host app sends them), changes nothing.
    const auto coreForNews = [weak = weak_from_this(), session = sessionToken()] {
        auto self = weak.lock();
        return self && self->takesRoomNews(session) ? self : nullptr;
    };
    KRWebSocketManager& manager = *webSocketManager_;
    manager.onRequestToRefreshMeetingData = [coreForNews] {
        if (auto self = coreForNews()) self->roomSync_->fetchRoomStatus({});
    };
    manager.onUserLeftMeeting = [coreForNews](const std::string& userId) {
        if (auto self = coreForNews()) self->roomSync_->applyUserLeft(userId);
    };
    manager.onRequestToUpdateParticipantsLists =
        [coreForNews](const std::vector<KRMeetingParticipant>& participants) {
            if (auto self = coreForNews()) self->roomSync_->applyParticipantRecords(participants);
        };
    manager.onRecordingStarted = [coreForNews] {
        if (auto self = coreForNews()) self->events().changeRecording(true, std::nullopt);
    };
    manager.onRecordingStopped = [coreForNews] {
        if (auto self = coreForNews()) self->events().changeRecording(false, std::nullopt);
    };
    manager.onNewChatMessage = [coreForNews](const KRChatMessage& message) {
        if (auto self = coreForNews()) self->addChatMessageRecievedThrougSocket(message);
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
