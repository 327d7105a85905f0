#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "platform/Media/MediaCodes.h"

// What the wrapper makes of the engine's reports: joins, leaves, media, speakers, role, quality.

namespace kr {

using platform::MediaCodes;

// ---- engine callbacks: participants and media state -----------------------------------------

void KRRtcManger::didJoinChannel(const std::string& channel, std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    localUserUid_ = uid;
    auto participant = std::make_shared<KRRtcParticipant>(uid, MediaCodes::kRenderHidden);
    participant->setIsAudioMuted(isLocalUserAudioMuted_);
    participant->setIsVideoMuted(isLocalUserVideoMuted_);
    participant->setIsAudience(currentUserRole_ == MediaCodes::kRoleAudience);
    removeParticipants(uid);
    allRtcParticipants_.push_back(std::move(participant));
    report([](KRRtcManagerDelegate& d) { d.didLocalParticipantJoinedChannel(); });
    if (isLocalUserAudioMuted_) {
        muteUnmuteLocalAudio(true);
    }
    if (isLocalUserVideoMuted_) {
        muteUnmuteLocalVideo(true);
    }
    logger_->info("Local Participant has Joined RTC Channel - " + channel);
}

void KRRtcManger::didLeaveChannelWithStats(const platform::ChannelStats&) {
    KR_DCHECK_RUN_ON(checker_);
    allRtcParticipants_.clear();
    allRtcParticipants_.shrink_to_fit();
    clearMeetingState();
    const auto engine = rtcEngine_;
    resetPending_ = engine != nullptr;
    report([](KRRtcManagerDelegate& d) { d.didLocalParticipantLeaveChannel(); });
    // This runs inside the engine's own callback: destroying it here would pull it out from
    // under its delivery, so the reset runs as the next task on the queue.
    if (engine) {
        // Held weakly: the engine holds the queue, so a queued task holding the engine would
        // keep both alive for ever when the queue is dropped before it runs.
        queue_->post([weak = weak_from_this(), weakEngine = std::weak_ptr(engine),
                      weakFactory = std::weak_ptr(engineFactory_)] {
            const auto left = weakEngine.lock();
            if (!left) {
                return;
            }
            if (auto self = weak.lock()) {
                if (self->resetPending_ && self->rtcEngine_ == left) {
                    self->resetRtcEngine();
                }
            } else if (auto factory = weakFactory.lock(); factory && factory->engine() == left) {
                // The wrapper went while the reset was queued; the left engine still goes.
                left->setDelegate({});
                factory->destroy();
            }
        });
    }
    logger_->info("Local Participant has left RTC Channel");
}

void KRRtcManger::didJoinedOfUid(std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    if (std::find(blockedUids_.begin(), blockedUids_.end(), uid) != blockedUids_.end()) {
        if (rtcEngine_) {
            rtcEngine_->muteRemoteAudioStream(uid, true);
            rtcEngine_->muteRemoteVideoStream(uid, true);
        }
        return;
    }
    earlyMedia_[uid] = {};
    report([uid](KRRtcManagerDelegate& d) { d.didRemoteStreamAddedToChannel(uid); });
}

void KRRtcManger::didOfflineOfUid(std::uint64_t uid, int reason) {
    KR_DCHECK_RUN_ON(checker_);
    earlyMedia_.erase(uid);
    if (const auto participant = participantOf(uid)) {
        participant->setCanvasVideoView(nullptr);
        participant->getRtcCanvas()->view = nullptr;
        if (rtcEngine_) {
            rtcEngine_->setupRemoteVideo(*participant->getRtcCanvas());
        }
    }
    if (reason == MediaCodes::kOfflineQuit || reason == MediaCodes::kOfflineDropped) {
        removeParticipants(uid);
        frozen_.remove(uid);
        const auto why = reason == MediaCodes::kOfflineQuit ? KRUserLeftReason::leaveMeeting()
                                                            : KRUserLeftReason::networkDropped();
        report([&](KRRtcManagerDelegate& d) { d.didRemoteStreamRemovedFromChannel(uid, why); });
    } else if (reason == MediaCodes::kOfflineBecameAudience) {
        report([uid](KRRtcManagerDelegate& d) { d.didRemoteParticipantMovedToAudience(uid); });
        removeParticipants(uid);
        frozen_.remove(uid);
    }
    logger_->info("Remote Participant has Left RTC Channel with UID - " + std::to_string(uid));
}

void KRRtcManger::remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto participant = participantOf(uid);
    if (!participant) {
        if (const auto early = earlyMedia_.find(uid); early != earlyMedia_.end()) {
            early->second.keep(false, state);
        }
        return;
    }
    if (state == MediaCodes::kRemoteStateFrozen) {
        handleFrozenVideo(participant, reason);
        return;
    }
    if (const auto muted = EarlyRemoteMedia::mutedByRemoteState(state)) {
        frozen_.remove(uid);
        participant->setIsVideoMuted(*muted);
        logger_->info(std::string("Remote Participant video ") + (*muted ? "Muted" : "Unmuted") +
                      " with UID - " + std::to_string(uid));
    }
    report([&](KRRtcManagerDelegate& d) { d.didRemoteParticipantVideoStatusUpdated(participant); });
}

void KRRtcManger::remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto participant = participantOf(uid);
    if (!participant) {
        if (const auto early = earlyMedia_.find(uid); early != earlyMedia_.end()) {
            early->second.keep(true, state);
        }
        return;
    }
    const auto muted = EarlyRemoteMedia::mutedByRemoteState(state);
    if (muted == false) {
        participant->setIsAudioMuted(false);
        logger_->info("Remote Participant Audio Unmuted with UID - " + std::to_string(uid));
    } else if (muted == true) {
        logger_->info("Remote Participant Audio Muted with UID - " + std::to_string(uid));
        participant->setIsAudioMuted(true);
        participant->setIsLoudest(false);
        volumes_.remoteMuted(uid);
    }
    report([&](KRRtcManagerDelegate& d) { d.didRemoteParticipantAudioStatusUpdated(participant); });
}

void KRRtcManger::didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) {
    KR_DCHECK_RUN_ON(checker_);
    report([=](KRRtcManagerDelegate& d) { d.didLocalUserFallBackToAudioOnlyMode(isFallbackOrRecover); });
}

void KRRtcManger::didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                                        std::uint64_t uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto participant = participantOf(uid)) {
        report([&](KRRtcManagerDelegate& d) {
            d.didRemoteUserFallBackToAudioOnlyMode(isFallbackOrRecover, participant);
        });
    }
}

void KRRtcManger::connectionChangedToState(int state, int) {
    KR_DCHECK_RUN_ON(checker_);
    const KRConnectionState mapped = connectionStateFromEngine(state);
    report([mapped](KRRtcManagerDelegate& d) { d.didLocalParticipantConnectionChangedTo(mapped); });
}

// ---- engine callbacks: speakers, frozen video, routes, roles, quality ------------------------

void KRRtcManger::reportAudioVolumeIndicationOfSpeakers(
    const std::vector<platform::AudioVolumeInfo>& speakers, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto update = volumes_.update(speakers, localUserUid_, isLocalUserAudioMuted_);
    if (update.listsRemoteSpeakers) {
        handleAudioVolumes(speakers);
    }
    if (update.local) {
        const auto level = static_cast<std::int64_t>(update.local->volume);
        const bool speaking = update.local->vad == 1;
        report([=](KRRtcManagerDelegate& d) { d.didLocalSpeakerVolumeLevelChanges(level, speaking); });
    }
    if (!update.loudest) {
        report([](KRRtcManagerDelegate& d) { d.didDetectLoudestSpeaker(nullptr); });
        return;
    }
    if (const auto participant = participantOf(*update.loudest)) {
        report([&](KRRtcManagerDelegate& d) { d.didDetectLoudestSpeaker(participant); });
    }
}

void KRRtcManger::handleAudioVolumes(const std::vector<platform::AudioVolumeInfo>& speakers) {
    Participants list;
    list.reserve(speakers.size());
    for (const auto& s : speakers) {
        auto participant = participantOf(s.uid);
        if (!participant) {
            return;
        }
        list.push_back(std::move(participant));
    }
    report([&](KRRtcManagerDelegate& d) { d.didDetectTopActiveSpeakers(list); });
}

void KRRtcManger::handleFrozenVideo(const std::shared_ptr<KRRtcParticipant>& participant,
                                    int reason) {
    if (FrozenVideoTracker::isTransientReason(reason)) {
        return;
    }
    const bool isNew = frozen_.freeze(*queue_, participant->uid(), [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->sendVideoMutedEventForFrozenVideos();
        }
    });
    if (!isNew) {
        return;
    }
    report([&](KRRtcManagerDelegate& d) { d.didRemoteParticipantVideoStatusUpdated(participant); });
}

void KRRtcManger::sendVideoMutedEventForFrozenVideos() {
    KR_DCHECK_RUN_ON(checker_);
    Participants toReport;
    for (const std::uint64_t uid : frozen_.due(queue_->clock()->now())) {
        if (auto participant = participantOf(uid)) {
            frozen_.markReported(uid);
            participant->setIsVideoMuted(true);
            toReport.push_back(std::move(participant));
        }
    }
    // Reported after the walk: the delegate may change the records from inside a report.
    for (const auto& participant : toReport) {
        report([&](KRRtcManagerDelegate& d) {
            d.didRemoteParticipantVideoStatusUpdated(participant);
        });
    }
}

void KRRtcManger::didAudioRouteChanged(int routing) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto route = audioRouteFromEngine(routing)) {
        currentRTCAudioRoute_ = *route;
    }
    const KRAudioRouteType route = currentRTCAudioRoute_;
    report([route](KRRtcManagerDelegate& d) { d.didAudioRouteChanged(route); });
}

void KRRtcManger::didClientRoleChanged(int oldRole, int newRole) {
    KR_DCHECK_RUN_ON(checker_);
    currentUserRole_ = newRole;
    roleRetry_.roleChanged(newRole == MediaCodes::kRoleBroadcaster);
    const auto participant = localParticipant();
    if (!participant) {
        return;
    }
    const bool audience = newRole == MediaCodes::kRoleAudience;
    participant->setIsAudience(audience);
    if (audience) {
        participant->setIsAudioMuted(true);
        participant->setIsVideoMuted(true);
    }
    report([audience](KRRtcManagerDelegate& d) { d.didCurrentUserClientRoleChanged(audience); });
    if (oldRole == MediaCodes::kRoleAudience && newRole == MediaCodes::kRoleBroadcaster) {
        muteUnmuteLocalAudio(true);
        muteUnmuteLocalVideo(true);
    }
}

void KRRtcManger::didClientRoleChangeFailed(int reason, int) {
    KR_DCHECK_RUN_ON(checker_);
    if (reason == MediaCodes::kRoleChangeFailedTooManyBroadcasters) {
        roleRetry_.refused(*queue_, [weak = weak_from_this()](bool isAudience) {
            if (auto self = weak.lock()) self->switchClientRole(isAudience);
        });
    }
}

void KRRtcManger::networkQuality(std::uint64_t uid, int txQuality, int rxQuality) {
    KR_DCHECK_RUN_ON(checker_);
    if (uid != 0) {
        return;
    }
    const KRNetworkQuality quality = networkQualityFromEngine(txQuality, rxQuality);
    report([quality](KRRtcManagerDelegate& d) { d.didNetworkQualityChange(quality); });
}

void KRRtcManger::reportRtcStats(const platform::ChannelStats& stats) {
    KR_DCHECK_RUN_ON(checker_);
    const KRRtcPacketLossData loss{stats.txPacketLossRate, stats.rxPacketLossRate};
    const KRRtcTransmissionRateData rate{stats.txKBitrate, stats.rxKBitrate};
    const KRRtcBandwidthData bandwidth{stats.txBytes, stats.rxBytes};
    report([&](KRRtcManagerDelegate& d) {
        d.didRecieveNetworkStats(stats.lastmileDelay, loss, rate, bandwidth);
    });
}

void KRRtcManger::localAudioStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = audioErrorType(error);
    const auto text = audioErrorDescription(error);
    report([&](KRRtcManagerDelegate& d) { d.didLocalAudioStateChangeFailed(type, text); });
}

void KRRtcManger::localVideoStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = videoErrorType(error);
    const auto text = videoErrorDescription(error);
    report([&](KRRtcManagerDelegate& d) { d.didLocalVideoStateChangeFailed(type, text); });
}

void KRRtcManger::localAudioMixingStateDidChanged(int state, int reason) {
    KR_DCHECK_RUN_ON(checker_);
    if (reason == MediaCodes::kMixingReasonCanNotOpen ||
        reason == MediaCodes::kMixingReasonTooFrequentCall) {
        logger_->info("LOGS ::: Rtc Engine ::: reason = " + std::to_string(reason));
        logger_->info("LOGS ::: Rtc Engine ::: state = " + std::to_string(state));
    }
}

}  // namespace kr
