#include "KivRaneCoreSDK/Meeting/RoomEngineBackend.h"

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingNetworkStats.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"
#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"

// What the room's engine reports, and what the client makes of it: the end of the join, the
// participants (through the participant merge, whose closures tell the host), screen-share
// tracks, the question about unknown streams, speakers, quality and the local leave.

namespace kr {

namespace {

constexpr const char* kMovedToAudienceReason = "You have been moved to audience.";
constexpr const char* kRemoteOverrideReason = "Remote User has override your screen share.";

void finishEngineWait(const RtcManagerDelegate::Completion& completion) {
    if (completion) completion();
}

}  // namespace

/// A report after the client is gone only finishes the engine's wait; one about the meeting
/// after it ended does nothing else either. The engine's own waits and its local join and leave
/// are passed on whenever the client lives: they end or clean up what the engine started.
class RoomEngineBackend::RtcAdapter final : public RtcManagerDelegate, public SessionReceiver {
public:
    using SessionReceiver::SessionReceiver;

    void didLocalParticipantJoinChannel(const Peer& peer, Completion completion) override {
        auto c = client_.lock();
        if (!c) return finishEngineWait(completion);
        c->roomEngine().handleLocalJoin(peer, session(), std::move(completion));
    }
    void didLocalParticipantAudioStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didLocalParticipantVideoStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didRemoteParticipantAudioStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didRemoteParticipantVideoStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didLocalParticipantLeaveChannel(const KRUserLeftReason& reason,
                                         Completion completion) override {
        if (auto c = client_.lock()) c->roomEngine().handleLocalLeave(reason);
        finishEngineWait(completion);
    }
    void didRemoteParticipantJoinChannel(const Peer& peer, Completion completion) override {
        if (auto c = current(); c && peer) {
            if (const auto& engine = c->roomEngine().rtcEngineManager_) {
                engine->setUpRemoteStreamVideoView(peer->id(), VideoRenderMode::scaleAspectFill);
            }
            c->meetingUsersManager_.addNewParticipantRtcData(peer);
        }
        finishEngineWait(completion);
    }
    void didRemoteParticipantLeaveChannel(const std::string& peerId,
                                          const KRUserLeftReason& reason) override {
        auto c = current();
        if (!c) return;
        if (reason.kind() == KRUserLeftReason::Kind::becomeAudience) {
            c->meetingUsersManager_.moveParticipantToAudience(peerId);
        } else {
            c->meetingUsersManager_.removeParticipantData(peerId, false);
        }
    }
    void didDetectLoudestParticipant(const Peer& peer) override {
        auto c = current();
        if (!c) return;
        c->meetingUsersManager_.setLoudestParticipant(peer ? std::optional(peer->id())
                                                           : std::nullopt);
        c->sendLoudestSpeakerEvent(peer ? c->userById(peer->id()) : nullptr);
    }
    void didLocalSpeakerVolumeLevelChanges(std::uint64_t level, bool isSpeaking) override {
        if (auto c = current()) c->sendLocalSpeakerVolumeEvent(static_cast<int>(level), isSpeaking);
    }
    void didCurrentParticipantRoleChanged(bool isAudience) override {
        if (auto c = current()) c->roomEngine().handleRoleChange(isAudience);
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        if (auto c = current()) c->sendAudioRouteChangeEvent(route);
    }
    void didDetectTopActiveSpeakersPeers(const std::vector<Peer>& peers) override {
        auto c = current();
        if (!c) return;
        std::vector<std::shared_ptr<KRMeetingUser>> speakers;
        for (const auto& peer : peers) {
            auto user = peer ? c->userById(peer->id()) : nullptr;
            if (!user) return;  // a list with a stranger in it is not reported at all
            speakers.push_back(std::move(user));
        }
        const KRMeeting meeting = c->getCurrentMeetingData();
        c->forMainDelegate(
            [&](KRClientDelegate& d) { d.didDetectActiveSpeakers(meeting, speakers); });
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        if (auto c = current()) c->sendLocalMediaFailedEvent(true, type, desc);
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        if (auto c = current()) c->sendLocalMediaFailedEvent(false, type, desc);
    }
    void didLocalParticicpantFallBacktoAudioOnlyMode(bool isFallback) override {
        if (auto c = current()) c->sendLocalAudioOnlyFallbackEvent(isFallback);
    }
    void didRemoteParticipantFallBackToAudioOnlyMode(bool isFallback, const Peer& peer) override {
        auto c = current();
        if (!c || !peer) return;
        if (const auto user = c->userById(peer->id())) {
            c->sendRemoteAudioOnlyFallbackEvent(isFallback, user);
        }
    }
    void didConnectionStateChanged(KRConnectionState state) override {
        auto c = current();
        if (!c) return;
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalParticipantConnectionChangedTo(m, state);
        });
        if (c->currentRoom_.mediaEngine == KRRoomMediaEngine::krmedia) {
            c->roomEngine().isWaitingToBeReconnect_ = state == KRConnectionState::disconnected;
        }
    }
    void didNetworkQualityChanged(KRNetworkQuality quality) override {
        if (auto c = current()) c->sendNetworkQualityUpdateEvent(quality);
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        if (auto c = current()) {
            c->sendNetworkStatsEvent(KRMeetingNetworkStats(
                latency, loss.uplinkLoss, loss.downlinkLoss, rate.uplinkRate, rate.downlinkRate,
                bandwidth.totalSent, bandwidth.totalRecieved));
        }
    }
    void didAuxiliaryVideoTrackAdded(const Peer& owner,
                                     const std::shared_ptr<RtcAuxiliaryTrack>& track) override {
        auto c = current();
        if (!c || !owner || !track) return;
        auto& users = c->meetingUsersManager_;
        const auto user = users.getMeetingUser(owner->id());
        const auto canvas = track->getVideoCanvas();
        auto share = std::make_shared<KRScreenShareTrack>(
            track->id(), std::make_shared<KRAudioTrack>(track->id(), true),
            std::make_shared<KRVideoTrack>(track->id(), false,
                                           canvas ? canvas->getVideoStreamView() : nullptr),
            user ? user->id() : "", user ? user->displayName() : "");
        users.addScreenShareTrack(share);
        const KRScreenShareState state = KRScreenShareState::started(share);
        if (track->parentId() == users.getCurrentParticipantId()) {
            mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
                d.didLocalScreenShareStateChanged(m, state);
            });
            return;
        }
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didRemoteScreenShareStateChanged(m, state);
        });
        c->postForceStopScreenShareDarwinNotification(kRemoteOverrideReason);
        if (const auto& engine = c->roomEngine().rtcEngineManager_) engine->stopScreenShare();
    }
    void didAuxiliaryVideoTrackRemoved(const Peer& owner) override {
        auto c = current();
        if (!c || !owner) return;
        c->meetingUsersManager_.removeScreenShareTrack(owner->id());
        const KRScreenShareState state =
            KRScreenShareState::stopped(KRUserLeftReason::leaveMeeting(), 0);
        const bool isLocal = owner->id() == c->meetingUsersManager_.getCurrentParticipantId();
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            if (isLocal) {
                d.didLocalScreenShareStateChanged(m, state);
            } else {
                d.didRemoteScreenShareStateChanged(m, state);
            }
        });
    }
    void didRequestToGetStreamSourceType(const std::string& streamId,
                                         StreamTypeCompletion completion) override {
        auto c = client_.lock();
        if (!c) {
            // Nobody left to ask: the stream is taken for what it most likely is.
            if (completion) completion(RtcRemoteStreamType::user(streamId));
            return;
        }
        c->roomEngine().checkRemoteStreamType(streamId, ClientCore::kStreamTypeQuestionTries,
                                              std::move(completion));
    }

private:
    void upsert(const Peer& peer) {
        if (auto c = current(); c && peer) c->meetingUsersManager_.upsertParticipantRtcMetaData(peer);
    }
    template <class Call>
    void mainOnly(Call&& call) {
        auto c = current();
        if (!c) return;
        const KRMeeting meeting = c->getCurrentMeetingData();
        c->forMainDelegate([&](KRClientDelegate& d) { call(d, meeting); });
    }
};

std::shared_ptr<RtcManagerDelegate> RoomEngineBackend::rtcDelegate() {
    if (!rtcAdapter_ || !rtcAdapter_->session().sameSession(c_.sessionToken())) {
        rtcAdapter_ = std::make_shared<RtcAdapter>(c_.weak_from_this(), c_.sessionToken());
    }
    return rtcAdapter_;
}

void RoomEngineBackend::handleLocalJoin(const std::shared_ptr<RtcPeerMetaData>& peer,
                                        const MeetingSession::Token& session,
                                        RtcManagerDelegate::Completion completion) {
    if (peer && session.live() && c_.meetingState() == ClientCore::MeetingState::inMeeting) {
        // The engine is back in the channel after a reconnect (see the network-state closure):
        // the meeting goes on, with the local video shown again.
        if (rtcEngineManager_) rtcEngineManager_->setUpLocalRtcVideoView();
        finishEngineWait(completion);
        return;
    }
    if (!peer || !session.live() || !c_.isJoining()) {
        // A join that already failed, timed out or was left (the report came through the
        // receiver of its join while the next one runs): its channel must not stay open.
        c_.logger_.warn("Media join reported outside a join: leaving the media channel");
        if (rtcEngineManager_) rtcEngineManager_->leaveRtcChannel();
        finishEngineWait(completion);
        return;
    }
    c_.currentRoom_.userWebRtcId = peer->id();
    c_.meetingUsersManager_.setCurrentParticipantId(peer->id());
    if (rtcEngineManager_) rtcEngineManager_->setUpLocalRtcVideoView();
    std::weak_ptr<ClientCore> weak = c_.weak_from_this();
    const auto posted = [weak, session, peer, completion](ClientCore&, const auto& result) {
        auto self = weak.lock();
        if (!self || !session.live() || !self->isJoining()) {
            // The join ended (timed out, or left) while the post was on its way; whatever ended
            // it already asked the engine out of the channel.
            finishEngineWait(completion);
            return;
        }
        if (!replySucceeded(result)) {
            // The others would never see this participant: the join has failed, and the failure
            // leaves the media channel it already entered.
            self->failJoinAt(KRJoinStep::statusPost, "Post Room Connection Status", result);
            finishEngineWait(completion);
            return;
        }
        self->getRoomConnectionStatus([weak, session, peer, completion](bool) {
            auto again = weak.lock();
            if (!again || !session.live() || !again->isJoining()) {
                // The join ended while the room's status was read: no meeting starts.
                finishEngineWait(completion);
                return;
            }
            again->configureChatClient();
            again->setGetPostConnectionTimer();
            // The watchdog's first tick runs at once, inside this call.
            again->startConnectionCheckTimer();
            if (session.live() && again->isJoining()) {
                // Merged while the join is still under way: what the merge reports of the local
                // user now is its starting state, told by the join event alone.
                again->meetingUsersManager_.addNewParticipantRtcData(peer);
                again->session_->reachMeeting();
                again->sendLocalUserJoinMeetingEvent();
            }
            finishEngineWait(completion);
        });
    };
    c_.send(c_.makeStatusPost(true, false, c_.currentRoom_.isCurrentUserHandRaised), posted);
}

void RoomEngineBackend::checkRemoteStreamType(const std::string& streamId, int triesLeft,
                                              RtcManagerDelegate::StreamTypeCompletion completion) {
    if (!completion) return;
    const auto& merge = c_.meetingUsersManager_;
    for (const auto& info : merge.getScreenShareTrackInfos()) {
        if (std::to_string(info.trackID()) == streamId) {
            completion(RtcRemoteStreamType::screenShare(info.sharingUserID()));
            return;
        }
    }
    for (const auto& user : merge.getAllMeetingUser()) {
        if (user->id() == streamId) {
            completion(RtcRemoteStreamType::user(streamId));
            return;
        }
    }
    // The server knows it as a participant although the merge has not met its stream yet.
    for (const auto& record : merge.metaData()) {
        if (record.participantId == streamId && triesLeft < ClientCore::kStreamTypeQuestionTries) {
            completion(RtcRemoteStreamType::user(streamId));
            return;
        }
    }
    if (triesLeft <= 0 || !(c_.hasJoinedMeeting() || c_.isJoining())) {
        completion(RtcRemoteStreamType::user(streamId));
        return;
    }
    const MeetingSession::Token session = c_.sessionToken();
    std::weak_ptr<ClientCore> weak = c_.weak_from_this();
    const auto ask = [weak, session, streamId, triesLeft, completion] {
        auto self = weak.lock();
        if (!self || !session.live()) {
            completion(RtcRemoteStreamType::user(streamId));
            return;
        }
        self->getRoomConnectionStatus([weak, session, streamId, triesLeft, completion](bool) {
            auto again = weak.lock();
            if (!again || !session.live()) {
                completion(RtcRemoteStreamType::user(streamId));
                return;
            }
            again->roomEngine().checkRemoteStreamType(streamId, triesLeft - 1, completion);
        });
    };
    if (triesLeft == ClientCore::kStreamTypeQuestionTries) {
        ask();
    } else {
        c_.queue_->postAfter(ClientCore::kStreamTypeQuestionInterval, ask);
    }
}

void RoomEngineBackend::handleRoleChange(bool isAudience) {
    c_.isLocalUserInAudienceMode_ = isAudience;
    if (isAudience) {
        c_.currentRoom_.isCurrentUserAudioMuted = true;
        c_.currentRoom_.isCurrentUserVideoMuted = true;
    }
    c_.postUserRoomConnectionStatus(true, false, [](bool) {});
    if (!isAudience) {
        const KRMeeting meeting = c_.getCurrentMeetingData();
        const auto local = meeting.localParticipant();
        c_.forEachDelegate(
            [&](KRClientDelegate& d) { d.didLocalUserMovedToParticipant(meeting, local); });
        return;
    }
    auto& merge = c_.meetingUsersManager_;
    merge.moveParticipantToAudience(merge.getCurrentParticipantId());
    c_.postForceStopScreenShareDarwinNotification(kMovedToAudienceReason);
    const KRMeeting meeting = c_.getCurrentMeetingData();
    const auto local = meeting.localParticipant();
    c_.forEachDelegate([&](KRClientDelegate& d) { d.didLocalUserMovedToAudience(meeting, local); });
}

void RoomEngineBackend::handleLocalLeave(const KRUserLeftReason& engineReason) {
    if (c_.isJoining()) {
        // The channel of an earlier join that failed reports its leave after the host already
        // tried again: the join under way is not this report's to end.
        c_.logger_.info("Leave of an earlier media channel reported during a join, ignored");
        return;
    }
    const auto state = c_.meetingState();
    using State = ClientCore::MeetingState;
    const bool wasInMeeting = state == State::inMeeting || state == State::leaving;
    // A leave this client asked for (the host's own, or a removal by the meeting's host) keeps
    // the reason it was asked with; the engine only knows that its channel was left.
    const KRUserLeftReason& asked = c_.localUserLeftReason_;
    const KRUserLeftReason reason =
        state == State::leaving && asked.kind() != KRUserLeftReason::Kind::none ? asked
                                                                                : engineReason;
    // Read through the meeting's backend, while the session still names it.
    const auto users = c_.getMeetingUsers();
    const auto releaseChildren = [this, &users] {
        c_.releaseSocketManager();
        c_.rtmManager()->setDelegate({});
        // No message of a meeting already left may act on the next one.
        if (rtcEngineManager_) rtcEngineManager_->setRtmDelegate({});
        for (const auto& user : users) {
            user->resetVideoTrack();
        }
        c_.meetingUsersManager_.clearAllData();
        c_.currentRoom_.removeAllData();
        c_.removeNotificationsObservers();
        channelAsked_ = false;
        isWaitingToBeReconnect_ = false;
    };
    // The channel of a failed join may report after its session ended: nothing is left to end,
    // but its left-overs still go.
    if (!c_.endSession(MeetingSession::EndReason::left, releaseChildren)) releaseChildren();
    // The client's own engine is made again at the next join; the host's stays for it. Who made
    // it decides, not the room: a leave before the room's details came knows no room engine.
    if (ownsRtcEngine_) {
        rtcEngineManager_.reset();
        ownsRtcEngine_ = false;
    }
    if (!wasInMeeting) {
        return;  // the channel of a failed join: the host already heard of the failure
    }
    const KRMeeting meeting = c_.getCurrentMeetingData();
    c_.forMainDelegate([&](KRClientDelegate& d) { d.didLocalUserLeftMeeting(meeting, reason); });
}

}  // namespace kr
