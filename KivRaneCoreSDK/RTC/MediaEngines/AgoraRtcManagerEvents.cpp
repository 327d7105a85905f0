#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "KivRaneCoreSDK/Model/Media/AgoraEngineVideoCanvas.h"
#include "platform/Media/MediaCodes.h"

// What the wrapper makes of the engine's reports: joins, leaves, media, speakers, role, quality.

namespace kr {

namespace {

using platform::MediaCodes;

}  // namespace

// ---- engine callbacks: participants and media state -----------------------------------------

void AgoraRtcManager::didJoinChannel(const std::string&, std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    localUserId_ = sringValue(uid);
    const auto peer = addPeer(localUserId_);
    peer->setIsAudioMuted(isLocalAudioMuted_);
    peer->setIsVideoMuted(isLocalVideoMuted_);
    peer->setIsAudiencePeer(currentUserRole_ == MediaCodes::kRoleAudience);
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantJoinChannel(peer, [] {}); });
}

void AgoraRtcManager::didLeaveChannelWithStats(const platform::ChannelStats&) {
    KR_DCHECK_RUN_ON(checker_);
    ++session_;
    pendingJoins_.clear();
    waitingShares_.clear();
    pendingLeaves_.clear();
    // The meeting is over for the control messages too: nothing of it may act any more.
    rtmManager_->leaveAndLogout();
    rtmManager_->setDelegate({});
    rtmDelegate_.reset();
    frozen_.clear();
    roleRetry_.reset();
    const auto delegate = std::exchange(rtcDelegate_, {}).lock();
    if (!delegate) {
        // Nobody to finish the leave: the engine must not stay behind for want of a receiver.
        releaseMeeting();
        return;
    }
    delegate->didLocalParticipantLeaveChannel(
        KRUserLeftReason::leaveMeeting(), [weak = weak_from_this(), meeting = meeting_] {
            auto self = weak.lock();
            if (self && self->meeting_ == meeting) {
                self->releaseMeeting();
            }
        });
}

void AgoraRtcManager::didJoinedOfUid(std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto delegate = rtcDelegate_.lock();
    if (!delegate) {
        return;
    }
    const std::uint64_t question = ++lastQuestion_;
    pendingJoins_[uid] = PendingJoin{.question = question, .media = {}};
    pendingLeaves_.erase(uid);
    delegate->didRequestToGetStreamSourceType(
        sringValue(uid), [weak = weak_from_this(), uid, question](RtcRemoteStreamType answer) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            const auto it = self->pendingJoins_.find(uid);
            // Answered twice, or the uid left (or the meeting ended) before the answer came.
            if (it == self->pendingJoins_.end() || it->second.question != question) {
                return;
            }
            const PendingJoin pending = it->second;
            self->pendingJoins_.erase(it);
            self->answerRemoteJoin(uid, answer, pending);
        });
}

void AgoraRtcManager::answerRemoteJoin(std::uint64_t uid, const RtcRemoteStreamType& answer,
                                       const PendingJoin& pending) {
    const std::string id = sringValue(uid);
    if (answer.kind() == RtcRemoteStreamType::Kind::user) {
        const auto peer = addPeer(id);
        // States reported while the question was open would otherwise be lost: the engine
        // reports a state only when it changes.
        pending.media.applyTo(*peer);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantJoinChannel(peer, [] {}); });
        if (const auto share = waitingShares_.find(id); share != waitingShares_.end()) {
            const std::uint64_t shareUid = share->second;
            waitingShares_.erase(share);
            if (const auto parent = peerOf(id)) {
                attachShare(shareUid, parent);
            }
        }
        return;
    }
    // One screen share at a time: a new one replaces whatever share is shown or waiting.
    waitingShares_.clear();
    const auto parent = peerOf(answer.participantId());
    if (!parent) {
        removeShownShare();
        // The sharer's own stream is still being asked about: the share is not lost for that.
        waitingShares_[answer.participantId()] = uid;
        return;
    }
    attachShare(uid, parent);
}

void AgoraRtcManager::removeShownShare() {
    const auto sharing = std::find_if(peers_.begin(), peers_.end(),
                                      [](const Peer& p) { return p->getAuxiliaryTrack() != nullptr; });
    if (sharing != peers_.end()) {
        removePeerAuxiliaryTrack((*sharing)->id());
    }
}

void AgoraRtcManager::attachShare(std::uint64_t uid, const std::shared_ptr<RtcPeerMetaData>& parent) {
    const std::string id = sringValue(uid);
    removeShownShare();
    parent->destroyAuxiliaryTrack();
    auto track = std::make_shared<RtcAuxiliaryTrack>(id, parent->id());
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(id, VideoRenderMode::scaleAspectFit);
    track->setVideoCanvas(canvas);
    parent->setAuxiliaryTrack(track);
    if (rtcEngine_) {
        rtcEngine_->setupRemoteVideo(*canvas->engineCanvas());
        rtcEngine_->setParameters(letterBoxParameters(uid));
    }
    report([&](RtcManagerDelegate& d) { d.didAuxiliaryVideoTrackAdded(parent, track); });
}

void AgoraRtcManager::didOfflineOfUid(std::uint64_t uid, int reason) {
    KR_DCHECK_RUN_ON(checker_);
    frozen_.remove(uid);
    if (pendingJoins_.erase(uid) > 0) {
        // Gone before anyone said what it was: it was never added or reported, so its leave is
        // not reported either.
        return;
    }
    const auto delegate = rtcDelegate_.lock();
    if (!delegate) {
        return;
    }
    const std::uint64_t question = ++lastQuestion_;
    pendingLeaves_[uid] = question;
    delegate->didRequestToGetStreamSourceType(
        sringValue(uid), [weak = weak_from_this(), uid, reason, question,
                          session = session_](RtcRemoteStreamType answer) {
            auto self = weak.lock();
            if (!self || self->session_ != session) {
                return;
            }
            const auto it = self->pendingLeaves_.find(uid);
            // Answered twice, or the uid came back before the answer: it is in the channel.
            if (it == self->pendingLeaves_.end() || it->second != question) {
                return;
            }
            self->pendingLeaves_.erase(it);
            self->answerRemoteLeave(uid, reason, answer);
        });
}

void AgoraRtcManager::answerRemoteLeave(std::uint64_t uid, int reason,
                                        const RtcRemoteStreamType& answer) {
    const std::string id = sringValue(uid);
    if (answer.kind() == RtcRemoteStreamType::Kind::screenShare) {
        std::erase_if(waitingShares_, [uid](const auto& share) { return share.second == uid; });
        // Only when the owner still shows this very share: a late leave of an earlier share must
        // not take down the one that replaced it.
        const auto parent = peerOf(answer.participantId());
        const auto track = parent ? parent->getAuxiliaryTrack() : nullptr;
        if (track && track->id() == id) {
            removePeerAuxiliaryTrack(parent->id());
        }
        return;
    }
    if (const auto peer = peerOf(id)) {
        peer->destroyVideoCanvas();
    }
    waitingShares_.erase(id);
    removePeers(id);
    const KRUserLeftReason why = userLeftReasonFromEngine(reason);
    report([&](RtcManagerDelegate& d) { d.didRemoteParticipantLeaveChannel(id, why); });
}

void AgoraRtcManager::removePeerAuxiliaryTrack(const std::string& peerId) {
    const auto peer = peerOf(peerId);
    const auto track = peer ? peer->getAuxiliaryTrack() : nullptr;
    if (!track) {
        return;
    }
    track->destroyVideoCanvas();
    peer->destroyAuxiliaryTrack();
    report([&](RtcManagerDelegate& d) { d.didAuxiliaryVideoTrackRemoved(peer); });
}

void AgoraRtcManager::remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(uid);
    if (!peer) {
        if (const auto pending = pendingJoins_.find(uid); pending != pendingJoins_.end()) {
            pending->second.media.keep(true, state);
        }
        return;
    }
    const auto muted = EarlyRemoteMedia::mutedByRemoteState(state);
    if (muted == false) {
        peer->setIsAudioMuted(false);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantAudioStatusUpdated(peer, false); });
    } else if (muted == true) {
        peer->setIsAudioMuted(true);
        peer->setIsLoudest(false);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantAudioStatusUpdated(peer, true); });
        volumes_.remoteMuted(uid);
    }
}

void AgoraRtcManager::remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                                   int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(uid);
    if (!peer) {
        if (const auto pending = pendingJoins_.find(uid); pending != pendingJoins_.end()) {
            pending->second.media.keep(false, state);
        }
        return;
    }
    if (const auto muted = EarlyRemoteMedia::mutedByRemoteState(state)) {
        frozen_.remove(uid);
        peer->setIsVideoMuted(*muted);
        report([&](RtcManagerDelegate& d) {
            d.didRemoteParticipantVideoStatusUpdated(peer, *muted);
        });
        return;
    }
    if (state == MediaCodes::kRemoteStateFrozen && !FrozenVideoTracker::isTransientReason(reason)) {
        frozen_.freeze(*queue_, uid, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->sendVideoMutedEventForFrozenVideos();
            }
        });
    }
}

void AgoraRtcManager::sendVideoMutedEventForFrozenVideos() {
    KR_DCHECK_RUN_ON(checker_);
    std::vector<Peer> toReport;
    for (const std::uint64_t uid : frozen_.due(queue_->clock()->now())) {
        if (auto peer = peerOf(uid)) {
            frozen_.markReported(uid);
            peer->setIsVideoMuted(true);
            toReport.push_back(std::move(peer));
        }
    }
    // Reported after the walk: the delegate may change the records from inside a report.
    for (const auto& peer : toReport) {
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantVideoStatusUpdated(peer, true); });
    }
}

// ---- engine callbacks: volumes, routes, role, quality and statistics -------------------------

void AgoraRtcManager::reportAudioVolumeIndicationOfSpeakers(
    const std::vector<platform::AudioVolumeInfo>& speakers, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto update = volumes_.update(speakers, uintValue(localUserId_), isLocalAudioMuted_);
    if (update.listsRemoteSpeakers) {
        std::vector<Peer> top;
        for (const auto& s : speakers) {
            if (auto peer = peerOf(s.uid)) {
                top.push_back(std::move(peer));
            }
        }
        report([&](RtcManagerDelegate& d) { d.didDetectTopActiveSpeakersPeers(top); });
    }
    if (update.local) {
        const std::uint64_t level = update.local->volume;
        const bool speaking = update.local->vad == 1;
        report([=](RtcManagerDelegate& d) { d.didLocalSpeakerVolumeLevelChanges(level, speaking); });
    }
    for (const auto& peer : peers_) {
        peer->setIsLoudest(false);
    }
    if (!update.loudest) {
        report([](RtcManagerDelegate& d) { d.didDetectLoudestParticipant(nullptr); });
        return;
    }
    if (const auto peer = peerOf(*update.loudest)) {
        peer->setIsLoudest(true);
        report([&](RtcManagerDelegate& d) { d.didDetectLoudestParticipant(peer); });
    }
}

void AgoraRtcManager::didAudioRouteChanged(int routing) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto route = audioRouteFromEngine(routing)) {
        currentRTCAudioRoute_ = *route;
    }
    const KRAudioRouteType route = currentRTCAudioRoute_;
    report([route](RtcManagerDelegate& d) { d.didAudioRouteChanged(route); });
}

void AgoraRtcManager::didClientRoleChanged(int oldRole, int newRole) {
    KR_DCHECK_RUN_ON(checker_);
    currentUserRole_ = newRole;
    roleRetry_.roleChanged(newRole == MediaCodes::kRoleBroadcaster);
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    const bool audience = newRole == MediaCodes::kRoleAudience;
    peer->setIsAudiencePeer(audience);
    if (audience) {
        peer->setIsAudioMuted(true);
        peer->setIsVideoMuted(true);
    }
    report([audience](RtcManagerDelegate& d) { d.didCurrentParticipantRoleChanged(audience); });
    if (oldRole == MediaCodes::kRoleAudience && newRole == MediaCodes::kRoleBroadcaster) {
        // A user who becomes broadcaster starts muted.
        muteUnmuteLocalAudio(true);
        muteUnmuteLocalVideo(true);
    }
}

void AgoraRtcManager::didClientRoleChangeFailed(int reason, int) {
    KR_DCHECK_RUN_ON(checker_);
    if (reason == MediaCodes::kRoleChangeFailedTooManyBroadcasters) {
        roleRetry_.refused(*queue_, [weak = weak_from_this()](bool isAudience) {
            if (auto self = weak.lock()) self->switchClientRole(isAudience);
        });
    }
}

void AgoraRtcManager::localAudioStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = audioErrorType(error);
    const auto text = audioErrorDescription(error);
    report([&](RtcManagerDelegate& d) { d.didLocalAudioStateChangeFailed(type, text); });
}

void AgoraRtcManager::localVideoStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = videoErrorType(error);
    const auto text = videoErrorDescription(error);
    report([&](RtcManagerDelegate& d) { d.didLocalVideoStateChangeFailed(type, text); });
}

void AgoraRtcManager::didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) {
    KR_DCHECK_RUN_ON(checker_);
    report([=](RtcManagerDelegate& d) {
        d.didLocalParticicpantFallBacktoAudioOnlyMode(isFallbackOrRecover);
    });
}

void AgoraRtcManager::didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                                            std::uint64_t uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto peer = peerOf(uid)) {
        report([&](RtcManagerDelegate& d) {
            d.didRemoteParticipantFallBackToAudioOnlyMode(isFallbackOrRecover, peer);
        });
    }
}

void AgoraRtcManager::connectionChangedToState(int state, int) {
    KR_DCHECK_RUN_ON(checker_);
    // A state the engine does not define says nothing; claiming "connected" for it could hide
    // a real disconnection from the reconnect logic.
    if (const auto mapped = knownConnectionStateFromEngine(state)) {
        report([mapped](RtcManagerDelegate& d) { d.didConnectionStateChanged(*mapped); });
    }
}

void AgoraRtcManager::networkQuality(std::uint64_t uid, int txQuality, int rxQuality) {
    KR_DCHECK_RUN_ON(checker_);
    if (uid != 0) {
        return;
    }
    const KRNetworkQuality quality = networkQualityFromEngine(txQuality, rxQuality);
    report([quality](RtcManagerDelegate& d) { d.didNetworkQualityChanged(quality); });
}

void AgoraRtcManager::reportRtcStats(const platform::ChannelStats& stats) {
    KR_DCHECK_RUN_ON(checker_);
    const KRRtcPacketLossData loss{stats.txPacketLossRate, stats.rxPacketLossRate};
    const KRRtcTransmissionRateData rate{stats.txKBitrate, stats.rxKBitrate};
    const KRRtcBandwidthData bandwidth{stats.txBytes, stats.rxBytes};
    report([&](RtcManagerDelegate& d) {
        d.didRecieveNetworkStats(stats.lastmileDelay, loss, rate, bandwidth);
    });
}

}  // namespace kr
