#include "KivRaneCoreSDK/Meeting/Core/ClientCorePort.h"

#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

// The meeting as the media backends reach it: every call is one of the core's own.

namespace kr {

// ---- The session ----

MeetingPort::SessionToken ClientCore::Port::sessionToken() const { return core_.sessionToken(); }
MeetingPort::MeetingState ClientCore::Port::meetingState() const { return core_.meetingState(); }
bool ClientCore::Port::isJoining() const { return core_.isJoining(); }
bool ClientCore::Port::hasJoinedMeeting() const { return core_.hasJoinedMeeting(); }

std::weak_ptr<MeetingPort> ClientCore::Port::weakPort() {
    // Shares the core's ownership: the port lives exactly as long as the core.
    if (auto core = core_.weak_from_this().lock()) {
        return std::shared_ptr<MeetingPort>(core, this);
    }
    return {};
}

// ---- The room's facts ----

KRCurrentRoom& ClientCore::Port::room() { return core_.currentRoom_; }
MeetingParticipantsManager& ClientCore::Port::participants() { return core_.meetingUsersManager_; }
KivRaneRealTimeLogger2& ClientCore::Port::logger() { return core_.logger_; }

MeetingPort::EngineSetUp ClientCore::Port::engineSetUp() const {
    return {.highQuality = core_.highQualityEncoderSettings(),
            .lowQuality = core_.lowQualityEncoderSettings(),
            .activeSpeakerInterval = core_.settings_.activeSpeakerCallbackInterval,
            .reportsLoudestSpeaker = core_.settings_.userActiveSpeakerCallback,
            .virtualBackground = core_.settings_.virtualBackgroundType};
}

const KRUserRole& ClientCore::Port::joinRole() const { return core_.userRole_; }
KRApiServer ClientCore::Port::serverEnvironment() const { return core_.getServerEnvironment(); }
bool ClientCore::Port::isLocalUserInAudienceMode() const {
    return core_.currentRoom_.isCurrentUserInAudienceMode;
}
void ClientCore::Port::remoteRoleReported(const std::string& participantId) {
    core_.roomSync_->engineReportedRole(participantId);
}

// ---- The join and the teardown ----

void ClientCore::Port::runServerJoin(ServerJoin part, std::function<void()> thenMedia) {
    core_.runServerJoin(part, std::move(thenMedia));
}
bool ClientCore::Port::markMediaSetUp() { return core_.session_ && core_.session_->markMediaSetUp(); }
void ClientCore::Port::completeLocalMediaJoin(const std::string& localId, std::function<void()> finished) {
    core_.completeLocalMediaJoin(localId, std::move(finished));
}
void ClientCore::Port::failJoin(const KRMeetingJoinError& error) { core_.failJoin(error); }
void ClientCore::Port::handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason) {
    core_.handleLocalMediaLeft(std::move(engineReason));
}

// ---- What the engine reports ----

void ClientCore::Port::localRoleConfirmed(bool isAudience) {
    KRCurrentRoom& room = core_.currentRoom_;
    MediaBackend& backend = core_.mediaBackend();
    room.isCurrentUserInAudienceMode = isAudience;
    if (isAudience) {
        // Before the status post, which carries them: the audience sends no media.
        room.isCurrentUserAudioMuted = true;
        room.isCurrentUserVideoMuted = true;
    }
    backend.markLocalRole(isAudience);
    // With media credentials the default engine's meeting never reaches the service; the room
    // engine's join logs in all the same.
    if (!core_.settings_.shouldByPassAPICalls || backend.reportsToServerAfterMediaJoin()) {
        core_.roomSync_->postLocalRole();
    }
    const auto report = [this, isAudience] {
        core_.events_.sendLocalUserRoleChangedEvent(core_.getMeetingLocalUser(), isAudience);
    };
    if (!isAudience) {
        report();
        return;
    }
    // The two backends' engines order these two reports differently.
    const bool shareFirst = backend.reporting().endsShareBeforeAudienceMove;
    if (!shareFirst) report();
    core_.localScreenShare_.forceStop(LocalScreenShare::kMovedToAudienceReason);
    if (shareFirst) report();
}

void ClientCore::Port::engineConnectionChanged(KRConnectionState state) {
    core_.events_.sendConnectionStateEvent(state);
    // Waiting on would only end in the join's time-out, with the room socket and polls running.
    if (state == KRConnectionState::failed && core_.isJoining()) {
        core_.failJoin(KRMeetingJoinError::other(KRMeetingJoinError::kMediaConnectionFailed));
    }
}

// ---- Server calls ----

void ClientCore::Port::getRoomConnectionStatus(Completion completion) {
    core_.roomSync_->fetchRoomStatus(std::move(completion));
}
void ClientCore::Port::completeLater(Completion completion, bool value) {
    core_.completeLater(std::move(completion), value);
}

void ClientCore::Port::handleControlMessage(MediaBackend::Kind backend, ControlMessageRoute route,
                                            const KRRtmMessage& message) {
    core_.incomingMessages_.handleControlMessage(backend, route, message);
}

// ---- Reports ----

std::shared_ptr<KRMeetingUser> ClientCore::Port::getMeetingLocalUser() const {
    return core_.getMeetingLocalUser();
}
MeetingEvents& ClientCore::Port::events() { return core_.events(); }

// ---- The local screen share ----

LocalScreenShare& ClientCore::Port::localShare() { return core_.localScreenShare(); }

}  // namespace kr
