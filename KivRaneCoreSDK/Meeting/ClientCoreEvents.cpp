#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// The event senders: each takes a fresh snapshot and calls the main delegate first, then the extra
// delegates, unless it says main only. They only tell: the state a report is about was changed by
// whoever handled the message or reply, which also decides whether there is anything to report.

namespace kr {

void ClientCore::sendLocalUserJoinMeetingEvent() {
    const KRMeeting meeting = getCurrentMeetingData();
    const auto user = getMeetingLocalUser();
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserJoinedMeeting(meeting, user); });
}

void ClientCore::sendLocalUserMicUpdateEvent() {
    const KRMeeting meeting = getCurrentMeetingData();
    const bool muted = getMeetingLocalUser()->audioTrack()->isMuted();
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserMicStatusUpdated(meeting, muted); });
}

void ClientCore::sendLocalUserVideoUpdateEvent() {
    const KRMeeting meeting = getCurrentMeetingData();
    const bool muted = getMeetingLocalUser()->videoTrack()->isMuted();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didLocalUserVideoStatusUpdated(meeting, muted); });
}

void ClientCore::sendLocalUserLeftMeetingEvent() {
    const KRMeeting meeting = getCurrentMeetingData();
    const KRUserLeftReason reason = localUserLeftReason_;
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserLeftMeeting(meeting, reason); });
}

void ClientCore::sendLocalHandRaiseEvent() {
    const KRMeeting meeting = getCurrentMeetingData();
    const bool raised = getMeetingLocalUser()->isHandRaised();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalUserHandRaiseStatusUpdated(meeting, raised); });
}

void ClientCore::sendRemoteUserJoinMeetingEvent(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didRemoteUserJoinedMeeting(meeting, user); });
}

void ClientCore::sendRemoteUserLeftMeetingEvent(const std::shared_ptr<KRMeetingUser>& user,
                                              const KRUserLeftReason& reason) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserLeftMeeting(meeting, user, reason); });
}

void ClientCore::sendRemoteUserMicStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user) return;
    const KRMeeting meeting = getCurrentMeetingData();
    const bool muted = user->audioTrack()->isMuted();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserMicStatusUpdated(meeting, user, muted); });
}

void ClientCore::sendRemoteUserVideoStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user) return;
    const KRMeeting meeting = getCurrentMeetingData();
    const bool muted = user->videoTrack()->isMuted();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserVideoStatusUpdated(meeting, user, muted); });
}

void ClientCore::sendRemoteUserMovedToParticipants(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didUserMovedToParticipants(meeting, user); });
}

void ClientCore::sendLocalUserRoleChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                             bool isAudience) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) {
        if (isAudience) {
            d.didLocalUserMovedToAudience(meeting, user);
        } else {
            d.didLocalUserMovedToParticipant(meeting, user);
        }
    });
}

void ClientCore::sendLoudestSpeakerEvent(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didLoudestSpeakerUpdated(meeting, user); });
}

void ClientCore::sendNetworkQualityUpdateEvent(KRNetworkQuality quality) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didNetworkQualityUpdated(meeting, quality); });
}

void ClientCore::sendAudioRouteChangeEvent(KRAudioRouteType newRoute) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didAudioOutputRouteChanged(meeting, newRoute); });
}

void ClientCore::sendLocalMediaFailedEvent(bool audio, KRAudioVideoErrorType type,
                                           const std::string& description) {
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) {
        audio ? d.didLocalAudioStateChangeFailed(meeting, type, description)
              : d.didLocalVideoStateChangeFailed(meeting, type, description);
    });
}

void ClientCore::sendLocalAudioOnlyFallbackEvent(bool isFallback) {
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalUserFallBackToAudioOnlyMode(meeting, isFallback); });
}

void ClientCore::sendRemoteAudioOnlyFallbackEvent(bool isFallback,
                                                  const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) {
        d.didRemoteUserFallBackToAudioOnlyMode(meeting, isFallback, user);
    });
}

void ClientCore::sendLocalSpeakerVolumeEvent(int level, bool speaking) {
    if (!useLocalSpeakerSpeakingOnMuteCallback_) return;
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalSpeakerVolumeChanges(meeting, level, speaking); });
}

void ClientCore::sendNetworkStatsEvent(const KRMeetingNetworkStats& stats) {
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) { d.didMeetingNetworkStatsUpdated(meeting, stats); });
}

void ClientCore::sendLocalScreenShareEvent(const KRScreenShareState& state) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didLocalScreenShareStateChanged(meeting, state); });
}

void ClientCore::sendRemoteScreenShareEvent(const KRScreenShareState& state) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteScreenShareStateChanged(meeting, state); });
}

void ClientCore::sendRecordingStartedEvent(const std::optional<std::string>& startedBy) {
    const auto user = userById(startedBy);
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didRecordingStarted(meeting, user); });
}

void ClientCore::sendRecordingStoppedEvent(const std::optional<std::string>& stoppedBy) {
    const auto user = userById(stoppedBy);
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didRecordingStopped(meeting, user); });
}

void ClientCore::sendMeetingLockedEvent(const std::optional<std::string>& lockedBy) {
    const auto user = userById(lockedBy);
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didMeetingLocked(meeting, user); });
}

void ClientCore::sendMeetingUnLockedEvent(const std::optional<std::string>& unLockedBy) {
    const auto user = userById(unLockedBy);
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didMeetingUnLocked(meeting, user); });
}

void ClientCore::sendStartWhiteboardEvent(const std::string& startedBy,
                                        const std::string& senderName) {
    const KRMeeting meeting = getCurrentMeetingData();
    const std::string url = whiteboardUrl();
    forEachDelegate([&](KRClientDelegate& d) {
        d.didWhiteboardStarted(meeting, startedBy, url, senderName);
    });
}

void ClientCore::sendStopWhiteboardEvent(const std::optional<std::string>& stoppedBy) {
    // Looked up where the meeting's participants live, as for the lock and recording events.
    auto user = userById(stoppedBy);
    if (!user) {
        user = std::make_shared<KRMeetingUser>();
    }
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) { d.didWhiteboardStopped(meeting, user); });
}

void ClientCore::sendHostRequestToStartAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                                     bool isAudioRequest) {
    const KRMeeting meeting = getCurrentMeetingData();
    const auto state = isAudioRequest ? AudioVideoState::startAudio : AudioVideoState::startVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didHostRequestToChangeAudioVideoState(meeting, host, state);
    });
}

void ClientCore::sendHostRequestToStopAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                                    bool isAudioRequest) {
    const KRMeeting meeting = getCurrentMeetingData();
    const auto state = isAudioRequest ? AudioVideoState::stopAudio : AudioVideoState::stopVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didHostRequestToChangeAudioVideoState(meeting, host, state);
    });
}

void ClientCore::sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                               bool isAudioDecline) {
    const KRMeeting meeting = getCurrentMeetingData();
    const auto state = isAudioDecline ? AudioVideoState::startAudio : AudioVideoState::startVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didUserDeclineToChangeAudioVideoState(meeting, user, state);
    });
}

void ClientCore::sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didHostEnableHardAudioMute(meeting, performer); });
}

void ClientCore::sendHardMuteDisabledEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didHostDisableHardAudioMute(meeting, performer); });
}

void ClientCore::sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didHostEnableSoftAudioMute(meeting, performer); });
}

void ClientCore::sendHostLoweredAllHandsEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate([&](KRClientDelegate& d) { d.didHostLowerAllHands(meeting, performer); });
}

void ClientCore::sendRemoteUserHandRaisedEvent(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user) return;
    const KRMeeting meeting = getCurrentMeetingData();
    const bool raised = user->isHandRaised();
    forEachDelegate([&](KRClientDelegate& d) {
        d.didRemoteUserHandRaiseStatusUpdated(meeting, user, raised);
    });
}

void ClientCore::sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                            bool isCoHost,
                                            const std::string& targetParticipantId) {
    if (getMeetingLocalUser()->userId() != targetParticipantId) return;
    const KRMeeting meeting = getCurrentMeetingData();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didCoHostRightsChanged(meeting, user, isCoHost); });
}

void ClientCore::sendReactionReceivedEvent(const KRMeeting& meeting,
                                         const std::shared_ptr<KRMeetingUser>& user,
                                         const std::string& reactionsType) {
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didRecieveReaction(meeting, user, reactionsType); });
}

void ClientCore::sendJoinFailedEvent(const KRMeetingJoinError& error) {
    if (error.kind == KRMeetingJoinError::Kind::maxParticipantsLimit) {
        forMainDelegate([&](KRClientDelegate& d) { d.didLocalUserFailedToJoinMeeting(error); });
        return;
    }
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserFailedToJoinMeeting(error); });
}

void ClientCore::sendErrorEvent(const KRMeetingError& error) {
    forEachDelegate([&](KRClientDelegate& d) { d.didErrorOccured(error); });
}

}  // namespace kr
