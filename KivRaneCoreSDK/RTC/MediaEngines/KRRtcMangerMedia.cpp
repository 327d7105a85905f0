#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "platform/Media/MediaCodes.h"

// Local and remote media, views, blocked users, audio devices, the client role and chimes.

namespace kr {

using platform::MediaCodes;

// ---- media controls -------------------------------------------------------------------------

void KRRtcManger::muteUnmuteLocalAudio(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    // The delegate may release the wrapper from inside the report below.
    const auto keepAlive = shared_from_this();
    isLocalUserAudioMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalAudioStream(isMuted);
    }
    if (isMuted) {
        // A muted user must not stay the loudest on the strength of an earlier report.
        volumes_.localMuted(localUserUid_);
    }
    const auto participant = localParticipant();
    if (!participant) {
        return;
    }
    participant->setIsAudioMuted(isMuted);
    if (participant->isLoudest() && isMuted) {
        participant->setIsLoudest(false);
    }
    report([&](KRRtcManagerDelegate& d) { d.didLocalParticipantAudioStatusUpdated(participant); });
    logger_->info(std::string("Local Participant Audio ") + (isMuted ? "Muted" : "Unmuted"));
}

void KRRtcManger::muteUnmuteLocalVideo(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    const auto keepAlive = shared_from_this();
    isLocalUserVideoMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalVideoStream(isMuted);
        rtcEngine_->enableLocalVideo(!isMuted);
    }
    const auto participant = localParticipant();
    if (!participant) {
        return;
    }
    participant->setIsVideoMuted(isMuted);
    report([&](KRRtcManagerDelegate& d) { d.didLocalParticipantVideoStatusUpdated(participant); });
    logger_->info(std::string("Local Participant Video ") + (isMuted ? "Muted" : "Unmuted"));
}

void KRRtcManger::switchCamera() {
    KR_DCHECK_RUN_ON(checker_);
    logger_->info("Switching Camera");
    if (rtcEngine_) {
        rtcEngine_->switchCamera();
    }
}

void KRRtcManger::muteUnmuteUserAudioStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    const auto number = parseRemoteUid(uid, "remote audio change");
    if (!number) {
        return;
    }
    if (rtcEngine_) {
        rtcEngine_->muteRemoteAudioStream(*number, isMute);
    }
    logger_->info("Changing Remote User Audio State of UID " + uid + " to ::: " +
                  (isMute ? "Mute" : "Unmute"));
}

void KRRtcManger::muteUnmuteUserVideoStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    const auto number = parseRemoteUid(uid, "remote video change");
    if (!number) {
        return;
    }
    if (rtcEngine_) {
        rtcEngine_->muteRemoteVideoStream(*number, isMute);
    }
    logger_->info("Changing Remote User Video State of UID " + uid + " to ::: " +
                  (isMute ? "Mute" : "Unmute"));
}

std::shared_ptr<KRRtcParticipant> KRRtcManger::setUpRemoteVideo(std::uint64_t uid,
                                                                 int renderMode) {
    KR_DCHECK_RUN_ON(checker_);
    auto participant = std::make_shared<KRRtcParticipant>(uid, renderMode);
    participant->setIsAudience(false);
    if (const auto early = earlyMedia_.find(uid); early != earlyMedia_.end()) {
        early->second.applyTo(*participant);
        earlyMedia_.erase(early);
    }
    if (rtcEngine_) {
        rtcEngine_->setupRemoteVideo(*participant->getRtcCanvas());
    }
    // One participant per uid: a uid set up again replaces its old participant, whose view the
    // engine no longer draws into.
    removeParticipants(uid);
    allRtcParticipants_.push_back(participant);
    if (renderMode == MediaCodes::kRenderFit && rtcEngine_) {
        rtcEngine_->setParameters(R"({"che.video.render_background_color":{"uid":)" +
                                  std::to_string(uid) + R"(, "r":43, "g":43, "b":43}})");
    }
    return participant;
}

void KRRtcManger::setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    const bool high = quality == KRRemoteStreamQuality::high;
    logger_->info("Setting Remote User Video Quality of UID " + uid + " to ::: " +
                  (high ? "High" : "Low"));
    const auto number = parseRemoteUid(uid, "stream quality change");
    if (number && rtcEngine_) {
        rtcEngine_->setRemoteVideoStream(*number,
                                         high ? MediaCodes::kStreamHigh : MediaCodes::kStreamLow);
    }
}

void KRRtcManger::setRemoteUsersVolume(int value) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->adjustPlaybackSignalVolume(value);
    }
}

void KRRtcManger::blockRemoteAudioVideo(std::uint64_t uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (std::find(blockedUids_.begin(), blockedUids_.end(), uid) == blockedUids_.end()) {
        blockedUids_.push_back(uid);
    }
}

void KRRtcManger::removeBlockedRemoteAudioVideo(std::uint64_t uid) {
    KR_DCHECK_RUN_ON(checker_);
    std::erase(blockedUids_, uid);
}

void KRRtcManger::switchAudioDevice(KRAudioDeviceType type) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        setUpEngineAudioDevice(*rtcEngine_, type);
    }
}

bool KRRtcManger::hasHeadphones(const platform::AudioSessionRouteDescription& route) {
    return std::any_of(route.outputs.begin(), route.outputs.end(), [](const auto& port) {
        return port.portType == platform::AudioSessionPortType::headphones;
    });
}

bool KRRtcManger::hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route) {
    return std::any_of(route.outputs.begin(), route.outputs.end(), [](const auto& port) {
        return port.portType == platform::AudioSessionPortType::bluetoothA2DP;
    });
}

void KRRtcManger::switchClientRole(bool isAudience) {
    KR_DCHECK_RUN_ON(checker_);
    // The mute reports may release the wrapper before the role is asked for.
    const auto keepAlive = shared_from_this();
    if (isAudience) {
        // Whoever sends the user to the audience means it: a retry still waiting must not make
        // the user a broadcaster again.
        roleRetry_.cancel();
        muteUnmuteLocalAudio(true);
        muteUnmuteLocalVideo(true);
    }
    currentUserRole_ = engineRole(isAudience);
    if (rtcEngine_) {
        rtcEngine_->setClientRole(engineRole(isAudience));
    }
}

void KRRtcManger::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        setUpEngineVirtualBackground(*rtcEngine_, background);
    }
}

void KRRtcManger::playChime(const std::string& path, const char* which) {
    if (path.empty()) {
        logger_->info(std::string("No chime file set for user ") + which);
        return;
    }
    if (rtcEngine_) {
        rtcEngine_->startAudioMixing(path, true, false, 1, 0);
    }
}

void KRRtcManger::playChimeOnUserJoin() {
    KR_DCHECK_RUN_ON(checker_);
    playChime(audioFilePathForUserJoin_, "join");
}

void KRRtcManger::playChimeOnUserLeave() {
    KR_DCHECK_RUN_ON(checker_);
    playChime(audioFilePathForUserLeft_, "leave");
}

KRNetworkQuality KRRtcManger::getNetworkQuality(int engineQuality) {
    return networkQualityFromEngine(engineQuality);
}

}  // namespace kr
