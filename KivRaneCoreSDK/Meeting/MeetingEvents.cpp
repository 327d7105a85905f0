#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"

#include <algorithm>

namespace kr {

MeetingEvents::MeetingEvents(KRCurrentRoom& room, std::unique_ptr<Meeting> meeting)
    : room_(room), meeting_(std::move(meeting)) {
    room_.onMeetingParticipantRemoved = [this](const KRMeetingParticipant& participant) {
        if (auto panel = participantsListDelegate()) panel->didParticipantRemoved(participant);
    };
    room_.onMeetingParticipantUpdate = [this](const KRMeetingParticipant& participant) {
        if (auto panel = participantsListDelegate()) panel->didParticipantUpserted(participant);
    };
    room_.onMeetingParticipantsRefreshed =
        [this](const std::vector<KRMeetingParticipant>& participants) {
            if (auto panel = participantsListDelegate()) {
                panel->didParticipantDataRefreshed(participants);
            }
        };
}

MeetingEvents::~MeetingEvents() {
    room_.onMeetingParticipantRemoved = nullptr;
    room_.onMeetingParticipantUpdate = nullptr;
    room_.onMeetingParticipantsRefreshed = nullptr;
}

// ---- Delegates ----

void MeetingEvents::setMainDelegate(std::weak_ptr<KRClientDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void MeetingEvents::addDelegate(const std::string& identifier,
                                std::weak_ptr<KRClientDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    for (auto& entry : clientDelegates_) {
        if (entry.first == identifier) {
            entry.second = std::move(delegate);
            return;
        }
    }
    clientDelegates_.emplace_back(identifier, std::move(delegate));
}

void MeetingEvents::removeDelegate(std::string_view identifier) {
    KR_DCHECK_RUN_ON(checker_);
    std::erase_if(clientDelegates_, [&](const auto& entry) { return entry.first == identifier; });
}

void MeetingEvents::setParticipantsListDelegate(
    std::weak_ptr<KRParticipantsListUpdateDelegate> delegate) {
    participantsListDelegate_ = std::move(delegate);
}

std::shared_ptr<KRParticipantsListUpdateDelegate> MeetingEvents::participantsListDelegate() const {
    return participantsListDelegate_.lock();
}

void MeetingEvents::forEachDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    forDelegatesIn(Reach::everyDelegate, call);
}

void MeetingEvents::forMainDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    forDelegatesIn(Reach::mainDelegate, call);
}

void MeetingEvents::forDelegatesIn(Reach reach,
                                   const std::function<void(KRClientDelegate&)>& call) const {
    std::vector<std::shared_ptr<KRClientDelegate>> targets;
    if (reach != Reach::extraDelegates) {
        if (auto main = delegate_.lock()) targets.push_back(std::move(main));
    }
    if (reach != Reach::mainDelegate) {
        for (const auto& entry : clientDelegates_) {
            if (auto extra = entry.second.lock()) targets.push_back(std::move(extra));
        }
    }
    for (const auto& target : targets) {
        call(*target);
    }
}

// ---- State changed here, then reported ----

void MeetingEvents::changeMeetingLock(bool locked, const std::optional<std::string>& by) {
    if (!room_.applyMeetingLocked(locked))
        return;
    if (locked) {
        sendMeetingLockedEvent(by);
    } else {
        sendMeetingUnLockedEvent(by);
    }
}

void MeetingEvents::changeRecording(bool on, const std::optional<std::string>& by,
                                    std::optional<std::uint64_t> replyAskedAtWords) {
    if (!room_.applyRecordingOn(on, replyAskedAtWords))
        return;
    if (on) {
        sendRecordingStartedEvent(by);
    } else {
        sendRecordingStoppedEvent(by);
    }
}

void MeetingEvents::closeWhiteboard(const std::optional<std::string>& by) {
    if (room_.applyWhiteboardStopped())
        sendStopWhiteboardEvent(by);
}

void MeetingEvents::closeWhiteboardReportingLater(const std::optional<std::string>& by) {
    if (!room_.applyWhiteboardStopped()) return;
    reportLater([by](MeetingEvents& events) { events.sendStopWhiteboardEvent(by); });
}

// ---- Reports: each takes a fresh snapshot ----

void MeetingEvents::sendLocalUserJoinMeetingEvent() {
    const KRMeeting meeting = meeting_->snapshot();
    const auto user = meeting_->localUser();
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserJoinedMeeting(meeting, user); });
}

void MeetingEvents::sendLocalUserLeftEvent(const KRUserLeftReason& reason, Reach reach) {
    const KRMeeting meeting = meeting_->snapshot();
    forDelegatesIn(reach, [&](KRClientDelegate& d) { d.didLocalUserLeftMeeting(meeting, reason); });
}

void MeetingEvents::sendJoinRefusedEvent(KRClientDelegate& delegate, const char* reason) {
    delegate.didLocalUserFailedToJoinMeeting(KRMeetingJoinError::other(reason));
}

void MeetingEvents::sendLocalUserMicUpdateEvent() {
    reportLocalMedia(meeting_->localUser()->audioTrack()->isMuted(),
                     [](KRClientDelegate& d, const KRMeeting& meeting, bool muted) {
                         d.didLocalUserMicStatusUpdated(meeting, muted);
                     });
}

void MeetingEvents::sendLocalUserVideoUpdateEvent() {
    reportLocalMedia(meeting_->localUser()->videoTrack()->isMuted(),
                     [](KRClientDelegate& d, const KRMeeting& meeting, bool muted) {
                         d.didLocalUserVideoStatusUpdated(meeting, muted);
                     });
}

void MeetingEvents::reportLocalMedia(bool muted, LocalMediaReport tell) {
    KRMeeting meeting = meeting_->snapshot();
    if (hostCalls_ == 0) {
        forEachDelegate([&](KRClientDelegate& d) { tell(d, meeting, muted); });
        return;
    }
    // The engine answered inside the host's call. The values are taken now: by the time the
    // task runs a later change may have moved the local user's tracks on.
    reportLater([meeting = std::move(meeting), muted, tell](MeetingEvents& events) {
        events.forEachDelegate([&](KRClientDelegate& d) { tell(d, meeting, muted); });
    });
}

void MeetingEvents::sendLocalHandRaiseEvent() {
    const KRMeeting meeting = meeting_->snapshot();
    const bool raised = meeting_->localUser()->isHandRaised();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalUserHandRaiseStatusUpdated(meeting, raised); });
}

void MeetingEvents::sendRemoteUserJoinMeetingEvent(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didRemoteUserJoinedMeeting(meeting, user); });
}

void MeetingEvents::sendRemoteUserLeftMeetingEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                   const KRUserLeftReason& reason) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserLeftMeeting(meeting, user, reason); });
}

void MeetingEvents::sendRemoteUserMicStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user)
        return;
    const KRMeeting meeting = meeting_->snapshot();
    const bool muted = user->audioTrack()->isMuted();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserMicStatusUpdated(meeting, user, muted); });
}

void MeetingEvents::sendRemoteUserVideoStatusUpdateEvent(
    const std::shared_ptr<KRMeetingUser>& user) {
    if (!user)
        return;
    const KRMeeting meeting = meeting_->snapshot();
    const bool muted = user->videoTrack()->isMuted();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserVideoStatusUpdated(meeting, user, muted); });
}

void MeetingEvents::sendRemoteUserMovedToParticipants(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didUserMovedToParticipants(meeting, user); });
}

void MeetingEvents::sendLocalUserRoleChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                  bool isAudience) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) {
        if (isAudience) {
            d.didLocalUserMovedToAudience(meeting, user);
        } else {
            d.didLocalUserMovedToParticipant(meeting, user);
        }
    });
}

void MeetingEvents::sendRemoteUserMovedToAudienceEvent(const std::shared_ptr<KRMeetingUser>& user) {
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didUserMovedToAudience(meeting_->snapshot(), user); });
}

void MeetingEvents::sendActiveSpeakersEvent(
    const std::vector<std::shared_ptr<KRMeetingUser>>& speakers) {
    // A list with someone unknown in it would misrank the speakers: none is reported.
    if (std::find(speakers.begin(), speakers.end(), nullptr) != speakers.end()) return;
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate([&](KRClientDelegate& d) { d.didDetectActiveSpeakers(meeting, speakers); });
}

void MeetingEvents::sendConnectionStateEvent(KRConnectionState state) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalParticipantConnectionChangedTo(meeting, state); });
}

void MeetingEvents::sendLoudestSpeakerEvent(const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didLoudestSpeakerUpdated(meeting, user); });
}

void MeetingEvents::sendNetworkQualityUpdateEvent(KRNetworkQuality quality) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didNetworkQualityUpdated(meeting, quality); });
}

void MeetingEvents::sendAudioRouteChangeEvent(KRAudioRouteType newRoute) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didAudioOutputRouteChanged(meeting, newRoute); });
}

void MeetingEvents::sendLocalMediaFailedEvent(bool audio, KRAudioVideoErrorType type,
                                              const std::string& description) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate([&](KRClientDelegate& d) {
        audio ? d.didLocalAudioStateChangeFailed(meeting, type, description)
              : d.didLocalVideoStateChangeFailed(meeting, type, description);
    });
}

void MeetingEvents::sendLocalAudioOnlyFallbackEvent(bool isFallback) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalUserFallBackToAudioOnlyMode(meeting, isFallback); });
}

void MeetingEvents::sendRemoteAudioOnlyFallbackEvent(bool isFallback,
                                                     const std::shared_ptr<KRMeetingUser>& user) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate([&](KRClientDelegate& d) {
        d.didRemoteUserFallBackToAudioOnlyMode(meeting, isFallback, user);
    });
}

void MeetingEvents::sendLocalSpeakerVolumeEvent(int level, bool speaking) {
    if (!meeting_->wantsLocalSpeakerLevel())
        return;
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didLocalSpeakerVolumeChanges(meeting, level, speaking); });
}

void MeetingEvents::sendNetworkStatsEvent(const KRMeetingNetworkStats& stats) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate([&](KRClientDelegate& d) { d.didMeetingNetworkStatsUpdated(meeting, stats); });
}

void MeetingEvents::sendLocalScreenShareEvent(const KRScreenShareState& state, Reach reach) {
    const KRMeeting meeting = meeting_->snapshot();
    forDelegatesIn(reach,
        [&](KRClientDelegate& d) { d.didLocalScreenShareStateChanged(meeting, state); });
}

void MeetingEvents::sendRemoteScreenShareEvent(const KRScreenShareState& state, Reach reach) {
    const KRMeeting meeting = meeting_->snapshot();
    forDelegatesIn(reach,
        [&](KRClientDelegate& d) { d.didRemoteScreenShareStateChanged(meeting, state); });
}

void MeetingEvents::sendRecordingStartedEvent(const std::optional<std::string>& startedBy) {
    const auto user = meeting_->userById(startedBy);
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didRecordingStarted(meeting, user); });
}

void MeetingEvents::sendRecordingStoppedEvent(const std::optional<std::string>& stoppedBy) {
    const auto user = meeting_->userById(stoppedBy);
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didRecordingStopped(meeting, user); });
}

void MeetingEvents::sendMeetingLockedEvent(const std::optional<std::string>& lockedBy) {
    const auto user = meeting_->userById(lockedBy);
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didMeetingLocked(meeting, user); });
}

void MeetingEvents::sendMeetingUnLockedEvent(const std::optional<std::string>& unLockedBy) {
    const auto user = meeting_->userById(unLockedBy);
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didMeetingUnLocked(meeting, user); });
}

void MeetingEvents::sendStartWhiteboardEvent(const std::string& startedBy,
                                             const std::string& senderName) {
    const KRMeeting meeting = meeting_->snapshot();
    const std::string url = meeting_->whiteboardUrl();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didWhiteboardStarted(meeting, startedBy, url, senderName); });
}

void MeetingEvents::sendStopWhiteboardEvent(const std::optional<std::string>& stoppedBy) {
    // Looked up where the meeting's participants live, as for the lock and recording events.
    auto user = meeting_->userById(stoppedBy);
    if (!user) {
        user = std::make_shared<KRMeetingUser>();
    }
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate([&](KRClientDelegate& d) { d.didWhiteboardStopped(meeting, user); });
}

void MeetingEvents::sendHostRequestToStartAudioVideoEvent(
    const std::shared_ptr<KRMeetingUser>& host, bool isAudioRequest) {
    const KRMeeting meeting = meeting_->snapshot();
    const auto state = isAudioRequest ? AudioVideoState::startAudio : AudioVideoState::startVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didHostRequestToChangeAudioVideoState(meeting, host, state);
    });
}

void MeetingEvents::sendHostRequestToStopAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                                         bool isAudioRequest) {
    const KRMeeting meeting = meeting_->snapshot();
    const auto state = isAudioRequest ? AudioVideoState::stopAudio : AudioVideoState::stopVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didHostRequestToChangeAudioVideoState(meeting, host, state);
    });
}

void MeetingEvents::sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                    bool isAudioDecline) {
    const KRMeeting meeting = meeting_->snapshot();
    const auto state = isAudioDecline ? AudioVideoState::startAudio : AudioVideoState::startVideo;
    forEachDelegate([&](KRClientDelegate& d) {
        d.didUserDeclineToChangeAudioVideoState(meeting, user, state);
    });
}

void MeetingEvents::sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didHostEnableHardAudioMute(meeting, performer); });
}

void MeetingEvents::sendHardMuteDisabledEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didHostDisableHardAudioMute(meeting, performer); });
}

void MeetingEvents::sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer,
                                                  Reach reach) {
    const KRMeeting meeting = meeting_->snapshot();
    forDelegatesIn(reach,[&](KRClientDelegate& d) { d.didHostEnableSoftAudioMute(meeting, performer); });
}

void MeetingEvents::sendHostLoweredAllHandsEvent(const std::shared_ptr<KRMeetingUser>& performer) {
    const KRMeeting meeting = meeting_->snapshot();
    forEachDelegate([&](KRClientDelegate& d) { d.didHostLowerAllHands(meeting, performer); });
}

void MeetingEvents::sendRemoteUserHandRaisedEvent(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user)
        return;
    const KRMeeting meeting = meeting_->snapshot();
    const bool raised = user->isHandRaised();
    forEachDelegate(
        [&](KRClientDelegate& d) { d.didRemoteUserHandRaiseStatusUpdated(meeting, user, raised); });
}

void MeetingEvents::sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                 bool isCoHost,
                                                 const std::string& targetParticipantId,
                                                 Reach reach) {
    if (meeting_->localUser()->userId() != targetParticipantId)
        return;
    const KRMeeting meeting = meeting_->snapshot();
    forDelegatesIn(reach,
        [&](KRClientDelegate& d) { d.didCoHostRightsChanged(meeting, user, isCoHost); });
}

void MeetingEvents::sendReactionReceivedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                              const std::string& reactionsType) {
    const KRMeeting meeting = meeting_->snapshot();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didRecieveReaction(meeting, user, reactionsType); });
}

void MeetingEvents::sendJoinFailedEvent(const KRMeetingJoinError& error) {
    if (error.kind == KRMeetingJoinError::Kind::maxParticipantsLimit) {
        forMainDelegate([&](KRClientDelegate& d) { d.didLocalUserFailedToJoinMeeting(error); });
        return;
    }
    forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserFailedToJoinMeeting(error); });
}

void MeetingEvents::sendErrorEvent(const KRMeetingError& error) {
    forEachDelegate([&](KRClientDelegate& d) { d.didErrorOccured(error); });
}

}  // namespace kr
