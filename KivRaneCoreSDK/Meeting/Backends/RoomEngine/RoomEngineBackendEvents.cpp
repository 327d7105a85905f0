#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"

#include <algorithm>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
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
        if (!port_.lock()) return finishEngineWait(completion);
        backend_.handleLocalJoin(peer, session(), std::move(completion));
    }
    void didLocalParticipantAudioStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didLocalParticipantVideoStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didRemoteParticipantAudioStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didRemoteParticipantVideoStatusUpdated(const Peer& peer, bool) override { upsert(peer); }
    void didLocalParticipantLeaveChannel(const KRUserLeftReason& reason,
                                         Completion completion) override {
        if (port_.lock()) backend_.handleLocalLeave(reason, session());
        finishEngineWait(completion);
    }
    void didRemoteParticipantJoinChannel(const Peer& peer, Completion completion) override {
        if (auto c = current(); c && peer) {
            if (const auto& engine = backend_.rtcEngineManager_) {
                engine->setUpRemoteStreamVideoView(peer->id(), VideoRenderMode::scaleAspectFill);
            }
            // Back from the audience: a speaker again at once, and a status reply asked before
            // this must not move it there again.
            if (const auto user = c->participants().getMeetingUser(peer->id());
                user && !user->isSpeaker()) {
                c->remoteRoleReported(peer->id());
                c->participants().moveParticipantBackFromAudience(peer);
            } else {
                c->participants().addNewParticipantRtcData(peer);
            }
            backend_.peerJoined(peer->id());
            backend_.showShareOfReturningOwner(peer->id());
        }
        finishEngineWait(completion);
    }
    void didRemoteParticipantLeaveChannel(const std::string& peerId,
                                          const KRUserLeftReason& reason) override {
        auto c = current();
        if (!c) return;
        if (reason.kind() == KRUserLeftReason::Kind::becomeAudience) {
            c->remoteRoleReported(peerId);
            c->participants().moveParticipantToAudience(peerId);
            return;
        }
        backend_.standIns_.remove(peerId);
        backend_.standInsAwaitingPeer_.erase(peerId);
        const bool tracklessShare = backend_.forgetTracklessShareStream(peerId);
        if (backend_.sharesFromStandIns_.erase(peerId) != 0 || tracklessShare) {
            // A share's stream the engine took for a participant's: the stream is what left,
            // and the share ends with it (or is not shown again when its owner returns).
            if (const auto share = backend_.shareTrackWhere(
                    [&](const KRScreenShareTrack& t) { return t.id() == peerId; })) {
                backend_.closeShare(share);
            }
            return;
        }
        // A share goes with its owner (who left, or whose media dropped before the share's
        // stream did): closed here, once; the stream's own leave later finds nothing to close.
        // When only the owner's media dropped, the share is kept to show again at its return.
        backend_.sharesOfDroppedOwners_.erase(peerId);
        if (const auto share = backend_.shareTrackWhere(
                [&](const KRScreenShareTrack& t) { return t.sharingUserId() == peerId; })) {
            backend_.closeShare(share);
            backend_.sharesShownWithoutTrack_.erase(share->id());
            if (reason.kind() == KRUserLeftReason::Kind::networkDropped) {
                backend_.sharesOfDroppedOwners_[peerId] = share;
            }
        }
        c->participants().removeParticipantData(peerId, false, reason);
    }
    void didDetectLoudestParticipant(const Peer& peer) override {
        auto c = current();
        if (!c) return;
        c->participants().setLoudestParticipant(peer ? std::optional(peer->id())
                                                           : std::nullopt);
        c->events().sendLoudestSpeakerEvent(peer ? backend_.userById(peer->id()) : nullptr);
    }
    void didLocalSpeakerVolumeLevelChanges(std::uint64_t level, bool isSpeaking) override {
        if (auto c = current()) c->events().sendLocalSpeakerVolumeEvent(static_cast<int>(level), isSpeaking);
    }
    void didCurrentParticipantRoleChanged(bool isAudience) override {
        // Held through the reports the change brings, which a host may answer by letting go.
        if (auto c = current()) backend_.handleRoleChange(isAudience);
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        if (auto c = current()) c->events().sendAudioRouteChangeEvent(route);
    }
    void didDetectTopActiveSpeakersPeers(const std::vector<Peer>& peers) override {
        auto c = current();
        if (!c) return;
        std::vector<std::shared_ptr<KRMeetingUser>> speakers;
        for (const auto& peer : peers) {
            speakers.push_back(peer ? backend_.userById(peer->id()) : nullptr);
        }
        c->events().sendActiveSpeakersEvent(speakers);
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        if (auto c = current()) c->events().sendLocalMediaFailedEvent(true, type, desc);
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        if (auto c = current()) c->events().sendLocalMediaFailedEvent(false, type, desc);
    }
    void didLocalParticicpantFallBacktoAudioOnlyMode(bool isFallback) override {
        if (auto c = current()) c->events().sendLocalAudioOnlyFallbackEvent(isFallback);
    }
    void didRemoteParticipantFallBackToAudioOnlyMode(bool isFallback, const Peer& peer) override {
        auto c = current();
        if (!c || !peer) return;
        if (const auto user = backend_.userById(peer->id())) {
            c->events().sendRemoteAudioOnlyFallbackEvent(isFallback, user);
        }
    }
    void didConnectionStateChanged(KRConnectionState state) override {
        auto c = current();
        if (!c) return;
        if (c->room().mediaEngine == KRRoomMediaEngine::krmedia) {
            backend_.isWaitingToBeReconnect_ = state == KRConnectionState::disconnected;
        }
        c->engineConnectionChanged(state);
        if (!c->hasJoinedMeeting()) return;
        if (state == KRConnectionState::disconnected || state == KRConnectionState::reconnecting) {
            backend_.isEngineAway_ = true;
            // Whatever it was given at its last return and has not answered (a role it refused
            // included) is not asked again: the next return gives the role the meeting holds.
            backend_.roleSetAgain_.reset();
            // Back in the channel, the engine meets every stream anew and attaches each share
            // to its owner itself: a share's stream must not be answered as a participant's then.
            backend_.sharesOfDroppedOwners_.clear();
            backend_.sharesShownWithoutTrack_.clear();
        } else if (state == KRConnectionState::connected &&
                   std::exchange(backend_.isEngineAway_, false)) {
            backend_.setHeldRoleAgain();
        }
    }
    void didNetworkQualityChanged(KRNetworkQuality quality) override {
        if (auto c = current()) c->events().sendNetworkQualityUpdateEvent(quality);
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        if (auto c = current()) {
            c->events().sendNetworkStatsEvent(KRMeetingNetworkStats(
                latency, loss.uplinkLoss, loss.downlinkLoss, rate.uplinkRate, rate.downlinkRate,
                bandwidth.totalSent, bandwidth.totalRecieved));
        }
    }
    void didAuxiliaryVideoTrackAdded(const Peer& owner,
                                     const std::shared_ptr<RtcAuxiliaryTrack>& track) override {
        auto c = current();
        if (!c || !owner || !track) return;
        const auto user = c->participants().getMeetingUser(owner->id());
        const auto canvas = track->getVideoCanvas();
        auto video = std::make_shared<KRVideoTrack>(
            track->id(), false, canvas ? canvas->getVideoStreamView() : nullptr);
        backend_.sharesOfDroppedOwners_.erase(owner->id());
        backend_.sharesShownWithoutTrack_.erase(track->id());
        if (const auto shown = backend_.shareTrackWhere([&](const KRScreenShareTrack& t) {
                return t.id() == track->id() && t.sharingUserId() == owner->id();
            })) {
            // Already shown (again, when its owner came back): the engine's own track only
            // brings a fresh view.
            shown->setVideoTrack(std::move(video));
            return;
        }
        backend_.showShare(std::make_shared<KRScreenShareTrack>(
            track->id(), std::make_shared<KRAudioTrack>(track->id(), true), std::move(video),
            owner->id(), user ? user->displayName() : ""));
    }
    void didAuxiliaryVideoTrackRemoved(const Peer& owner) override {
        auto c = current();
        if (!c || !owner) return;
        backend_.sharesOfDroppedOwners_.erase(owner->id());
        // None left: it was closed already (with its owner's leave), and its stop was told then.
        if (const auto share = backend_.shareTrackWhere(
                [&](const KRScreenShareTrack& t) { return t.sharingUserId() == owner->id(); })) {
            backend_.closeShare(share);
        }
    }
    void didRequestToGetStreamSourceType(const std::string& streamId,
                                         StreamTypeCompletion completion) override {
        if (!port_.lock()) {
            // Nobody left to ask: the stream is taken for what it most likely is.
            if (completion) completion(RtcRemoteStreamType::user(streamId));
            return;
        }
        backend_.checkRemoteStreamType(streamId, kStreamTypeQuestionTries, std::move(completion));
    }

private:
    void upsert(const Peer& peer) {
        if (auto c = current(); c && peer) c->participants().upsertParticipantRtcMetaData(peer);
    }
};

std::shared_ptr<RtcManagerDelegate> RoomEngineBackend::rtcDelegate() {
    if (!rtcAdapter_ || !rtcAdapter_->session().sameSession(port_.sessionToken())) {
        rtcAdapter_ = std::make_shared<RtcAdapter>(port_.weakPort(), port_.sessionToken(), *this);
    }
    return rtcAdapter_;
}

std::shared_ptr<KRMeetingUser> RoomEngineBackend::userById(const std::string& id) const {
    if (id.empty()) return nullptr;
    for (const auto& user : port_.participants().getAllMeetingUser()) {
        if (user->id() == id) return user;
    }
    return nullptr;
}

void RoomEngineBackend::handleLocalJoin(const std::shared_ptr<RtcPeerMetaData>& peer,
                                        const MeetingSession::Token& session,
                                        RtcManagerDelegate::Completion completion) {
    if (peer && session.live() && port_.meetingState() == MeetingPort::MeetingState::inMeeting) {
        // The engine is back in the channel after a reconnect (see the network-state closure):
        // the meeting goes on, with the local video shown again and the microphone and camera
        // as the client holds them (a host's engine may have joined afresh).
        if (rtcEngineManager_) rtcEngineManager_->setUpLocalRtcVideoView();
        tellEngineRecordedMedia(*peer);
        isEngineAway_ = false;
        setHeldRoleAgain();
        confirmRoleJoinedIn(*peer);
        finishEngineWait(completion);
        return;
    }
    if (!peer || !session.live() || !port_.isJoining()) {
        // A join that already failed, timed out or was left (the report came through the
        // receiver of its join while the next one runs): its channel must not stay open.
        port_.logger().warn("Media join reported outside a join: leaving the media channel");
        if (rtcEngineManager_) rtcEngineManager_->leaveRtcChannel();
        finishEngineWait(completion);
        return;
    }
    port_.participants().setCurrentParticipantId(peer->id());
    if (rtcEngineManager_) rtcEngineManager_->setUpLocalRtcVideoView();
    tellEngineRecordedMedia(*peer);
    // What this backend does differently at the join end (the status post and room fetch after
    // the media confirmation, the local record in the merge) is asked of it there.
    confirmedLocal_ = peer;
    port_.completeLocalMediaJoin(peer->id(), [completion] { finishEngineWait(completion); });
}

void RoomEngineBackend::tellEngineRecordedMedia(RtcPeerMetaData& localPeer) {
    if (!rtcEngineManager_ || port_.room().mediaEngine != KRRoomMediaEngine::krmedia) return;
    // The library's own engine takes the starting state with its join data; the host's engine
    // has none and starts as it likes. It is told once in the channel, before the others hear
    // of the local user, and the peer it reported carries the same state.
    const auto& room = port_.room();
    rtcEngineManager_->muteUnmuteLocalAudio(room.isCurrentUserAudioMuted);
    rtcEngineManager_->muteUnmuteLocalVideo(room.isCurrentUserVideoMuted);
    localPeer.setIsAudioMuted(room.isCurrentUserAudioMuted);
    localPeer.setIsVideoMuted(room.isCurrentUserVideoMuted);
}

void RoomEngineBackend::checkRemoteStreamType(const std::string& streamId, int triesLeft,
                                              RtcManagerDelegate::StreamTypeCompletion completion,
                                              bool lastAskFailed) {
    if (!completion) return;
    if (sharesFromStandIns_.count(streamId) != 0 || isTracklessShareStream(streamId)) {
        // The engine holds this share as a peer, or holds nothing for it: as a participant's
        // stream it leaves, and its leave ends the share.
        completion(RtcRemoteStreamType::user(streamId));
        return;
    }
    const auto& merge = port_.participants();
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
        if (record.participantId == streamId && triesLeft < kStreamTypeQuestionTries) {
            completion(RtcRemoteStreamType::user(streamId));
            return;
        }
    }
    if (triesLeft <= 0 || !(port_.hasJoinedMeeting() || port_.isJoining())) {
        if (triesLeft <= 0 && lastAskFailed) {
            // Shown as a participant so that a newcomer is not hidden while the service cannot
            // answer; it may still turn out to be a share. A stand-in once the engine has made
            // its peer: a stream that leaves first is never shown.
            standInsAwaitingPeer_.insert(streamId);
        }
        completion(RtcRemoteStreamType::user(streamId));
        return;
    }
    const MeetingSession::Token session = port_.sessionToken();
    // The core behind the port owns this backend: while the port lives, so does `this`.
    const auto ask = [this, weak = port_.weakPort(), session, streamId, triesLeft, completion] {
        auto port = weak.lock();
        if (!port || !session.live()) {
            completion(RtcRemoteStreamType::user(streamId));
            return;
        }
        port->getRoomConnectionStatus([this, weak, session, streamId, triesLeft,
                                       completion](bool answered) {
            auto again = weak.lock();
            if (!again || !session.live()) {
                completion(RtcRemoteStreamType::user(streamId));
                return;
            }
            checkRemoteStreamType(streamId, triesLeft - 1, completion, !answered);
        });
    };
    if (triesLeft == kStreamTypeQuestionTries) {
        ask();
    } else {
        deps_.queue->postAfter(kStreamTypeQuestionInterval, ask);
    }
}

void RoomEngineBackend::takeHostRoleMove(bool isAudience) {
    if (!rtcEngineManager_) return;
    if (isEngineAway_) {
        // The latest move wins; the engine hears it once it is back in its channel.
        roleMovedWhileAway_ = isAudience;
        port_.logger().info("Role move kept until the media channel is back");
        return;
    }
    roleMovedWhileAway_.reset();
    // Back but not yet answered (a host's engine may report its connection before it is in its
    // channel again, and a role asked then may be lost): its fresh join asks for this move, not
    // for the role it was given on its return.
    if (roleSetAgain_) roleSetAgain_ = isAudience;
    rtcEngineManager_->switchClientRole(isAudience);
}

void RoomEngineBackend::setHeldRoleAgain() {
    if (!rtcEngineManager_) return;
    // Given once per return: a second call for the same return (a host's engine reports both
    // its connection and its fresh join) asks for the same role again.
    const bool role = roleMovedWhileAway_ ? *std::exchange(roleMovedWhileAway_, std::nullopt)
                                          : roleSetAgain_.value_or(port_.isLocalUserInAudienceMode());
    roleSetAgain_ = role;
    rtcEngineManager_->switchClientRole(role);
}

void RoomEngineBackend::confirmRoleJoinedIn(const RtcPeerMetaData& localPeer) {
    if (!roleSetAgain_ || localPeer.isAudiencePeer() != *roleSetAgain_ ||
        *roleSetAgain_ == port_.isLocalUserInAudienceMode()) {
        return;
    }
    // `roleSetAgain_` stays: should the engine answer after all, that answer is no news.
    port_.localRoleConfirmed(*roleSetAgain_);
}

// ---- Streams shown while the service could not say what they are ----

void RoomEngineBackend::roomStatusApplied() {
    const auto standIns = standIns_.streams();
    for (const std::string& id : standIns) {
        for (const auto& info : port_.participants().getScreenShareTrackInfos()) {
            if (std::to_string(info.trackID()) == id) {
                if (turnStandInIntoShare(id, info)) standIns_.remove(id);
                break;
            }
        }
    }
}

void RoomEngineBackend::remoteShareAnnounced() { standIns_.ask(port_); }

void RoomEngineBackend::peerJoined(const std::string& streamId) {
    if (standInsAwaitingPeer_.erase(streamId) == 0) return;
    standIns_.add(streamId);
    // A reply applied while the engine made the peer may have named it already.
    roomStatusApplied();
    standIns_.askLater(port_);
}

bool RoomEngineBackend::turnStandInIntoShare(const std::string& streamId,
                                             const KRScreenShareInfo& info) {
    auto& merge = port_.participants();
    if (!merge.getMeetingUser(streamId)) return false;
    merge.removeParticipantData(streamId, false);
    sharesFromStandIns_.insert(streamId);
    const auto owner = merge.getMeetingUser(info.sharingUserID());
    std::shared_ptr<platform::View> view;
    if (rtcEngineManager_) {
        // A shared screen is shown whole.
        rtcEngineManager_->setUpRemoteStreamVideoView(streamId, VideoRenderMode::scaleAspectFit);
        view = rtcEngineManager_->getVideoStreamView(streamId);
    }
    auto share = std::make_shared<KRScreenShareTrack>(
        streamId, std::make_shared<KRAudioTrack>(streamId, true),
        std::make_shared<KRVideoTrack>(streamId, false, view),
        owner ? owner->id() : info.sharingUserID(),
        owner ? owner->displayName() : info.sharingUserName());
    showShare(share);
    return true;
}

void RoomEngineBackend::showShare(const std::shared_ptr<KRScreenShareTrack>& track) {
    auto& merge = port_.participants();
    merge.addScreenShareTrack(track);
    reportShare(track, true);
    if (track->sharingUserId() == merge.getCurrentParticipantId()) return;
    port_.localShare().forceStop(LocalScreenShare::kRemoteOverrideReason);
    if (rtcEngineManager_) rtcEngineManager_->stopScreenShare();
}

void RoomEngineBackend::showShareOfReturningOwner(const std::string& ownerId) {
    const auto kept = sharesOfDroppedOwners_.find(ownerId);
    if (kept == sharesOfDroppedOwners_.end()) return;
    const auto share = kept->second;
    sharesOfDroppedOwners_.erase(kept);
    // One share at a time: one shown meanwhile (or this one, by the engine) took its place.
    if (!port_.participants().getScreenShareTracks().empty()) return;
    // The engine attached the stream to the owner's peer that dropped, not to the new one.
    sharesShownWithoutTrack_.insert(share->id());
    showShare(share);
}

bool RoomEngineBackend::isTracklessShareStream(const std::string& streamId) const {
    if (sharesShownWithoutTrack_.count(streamId) != 0) return true;
    return std::any_of(sharesOfDroppedOwners_.begin(), sharesOfDroppedOwners_.end(),
                       [&](const auto& kept) { return kept.second->id() == streamId; });
}

bool RoomEngineBackend::forgetTracklessShareStream(const std::string& streamId) {
    const bool shown = sharesShownWithoutTrack_.erase(streamId) != 0;
    const bool kept = std::erase_if(sharesOfDroppedOwners_, [&](const auto& entry) {
                          return entry.second->id() == streamId;
                      }) != 0;
    return shown || kept;
}

void RoomEngineBackend::reportShare(const std::shared_ptr<KRScreenShareTrack>& track,
                                    bool started) {
    const std::uint64_t uid = uintValue(track->id());
    if (track->sharingUserId() == port_.participants().getCurrentParticipantId()) {
        if (started) {
            port_.localShare().trackShown(track, reach());
        } else {
            port_.localShare().trackClosed(uid, reach());
        }
        return;
    }
    port_.events().sendRemoteScreenShareEvent(
        started ? KRScreenShareState::started(track)
                : KRScreenShareState::stopped(KRUserLeftReason::leaveMeeting(), uid),
        reach());
}

std::shared_ptr<KRScreenShareTrack> RoomEngineBackend::shareTrackWhere(
    const std::function<bool(const KRScreenShareTrack&)>& matches) const {
    for (const auto& track : port_.participants().getScreenShareTracks()) {
        if (track && matches(*track)) return track;
    }
    return nullptr;
}

void RoomEngineBackend::closeShare(const std::shared_ptr<KRScreenShareTrack>& track) {
    port_.participants().removeScreenShareTrackWithId(track->id());
    reportShare(track, false);
}

void RoomEngineBackend::handleRoleChange(bool isAudience) {
    // The engine's answer to the role given again after it came back is no news when the
    // meeting already holds that role.
    if (std::exchange(roleSetAgain_, std::nullopt) &&
        isAudience == port_.isLocalUserInAudienceMode()) {
        return;
    }
    port_.localRoleConfirmed(isAudience);
}

void RoomEngineBackend::markLocalRole(bool isAudience) {
    // The merge's record of the local participant follows the confirmed role both ways: left
    // to the service's next reply, the local user would read as audience after the app was told
    // of the move back.
    auto& merge = port_.participants();
    if (isAudience) {
        merge.moveParticipantToAudience(merge.getCurrentParticipantId());
    } else {
        merge.moveLocalParticipantBackFromAudience();
    }
}

void RoomEngineBackend::handleLocalLeave(const KRUserLeftReason& engineReason,
                                         const MeetingSession::Token& session) {
    const MeetingSession::Token current = port_.sessionToken();
    if (!session.sameSession(current) && current.live()) {
        // A late report of an earlier join's channel: the meeting under way is not its to end.
        port_.logger().info("Leave of an earlier media channel reported, ignored");
        return;
    }
    // The one teardown is the core's; this backend hands it the reason its engine gave (a leave
    // this client asked for keeps the reason it was asked with).
    port_.handleLocalMediaLeft(engineReason);
}

}  // namespace kr
