#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "KivRaneCoreSDK/Model/Media/AgoraEngineVideoCanvas.h"
#include "platform/Media/MediaCodes.h"

// Local and remote media, views, chimes, the client role and the audio devices.

namespace kr {

namespace {

using platform::MediaCodes;

/// The grey drawn around a fitted (letter-boxed) video.
constexpr int kLetterBoxGrey = 43;

}  // namespace

std::string AgoraRtcManager::letterBoxParameters(std::uint64_t uid) {
    boost::json::object colour;
    colour["uid"] = uid;
    colour["r"] = kLetterBoxGrey;
    colour["g"] = kLetterBoxGrey;
    colour["b"] = kLetterBoxGrey;
    boost::json::object parameters;
    parameters["che.video.render_background_color"] = std::move(colour);
    return asString(parameters);
}

// ---- local media and views ------------------------------------------------------------------

void AgoraRtcManager::setUpLocalRtcVideoView() {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = localPeer();
    if (peer) {
        peer->destroyVideoCanvas();
    }
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(localUserId_,
                                                           VideoRenderMode::scaleAspectFill);
    if (peer) {
        peer->setVideoCanvas(canvas);
    }
    if (rtcEngine_) {
        rtcEngine_->setupLocalVideo(*canvas->engineCanvas());
    }
}

void AgoraRtcManager::startPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->startPreview();
    }
}

void AgoraRtcManager::stopPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->stopPreview();
    }
}

void AgoraRtcManager::muteUnmuteLocalAudio(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    // The delegate may release the wrapper from inside the report, and a caller of this one
    // (the switch to the audience) still has work to do after it.
    const auto keepAlive = shared_from_this();
    isLocalAudioMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalAudioStream(isMuted);
    }
    if (isMuted) {
        // A muted user must not become or stay the loudest on the strength of an earlier
        // report, loudest at the time of the mute or not.
        volumes_.localMuted(uintValue(localUserId_));
    }
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    peer->setIsAudioMuted(isMuted);
    if (isMuted) {
        peer->setIsLoudest(false);
    }
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantAudioStatusUpdated(peer, isMuted); });
}

void AgoraRtcManager::muteUnmuteLocalVideo(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    const auto keepAlive = shared_from_this();
    isLocalVideoMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalVideoStream(isMuted);
        rtcEngine_->enableLocalVideo(!isMuted);
    }
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    peer->setIsVideoMuted(isMuted);
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantVideoStatusUpdated(peer, isMuted); });
}

void AgoraRtcManager::switchCamera() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->switchCamera();
    }
}

void AgoraRtcManager::setUpRemoteStreamVideoView(const std::string& id,
                                                 VideoRenderMode renderMode) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(id);
    if (peer) {
        peer->destroyVideoCanvas();
    }
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(id, renderMode);
    if (peer) {
        peer->setVideoCanvas(canvas);
    }
    if (!rtcEngine_) {
        return;
    }
    rtcEngine_->setupRemoteVideo(*canvas->engineCanvas());
    if (renderMode == VideoRenderMode::scaleAspectFit) {
        rtcEngine_->setParameters(letterBoxParameters(uintValue(id)));
    }
}

// ---- remote media and other controls --------------------------------------------------------

void AgoraRtcManager::muteUnmuteUserAudioStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteRemoteAudioStream(uintValue(uid), isMute);
    }
}

void AgoraRtcManager::muteUnmuteUserVideoStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteRemoteVideoStream(uintValue(uid), isMute);
    }
}

void AgoraRtcManager::setAudioFileForUserJoinChime(const std::string& path) {
    KR_DCHECK_RUN_ON(checker_);
    audioFilePathForUserJoin_ = path;
}

void AgoraRtcManager::setAudioFileForUserLeftChime(const std::string& path) {
    KR_DCHECK_RUN_ON(checker_);
    audioFilePathForUserLeft_ = path;
}

void AgoraRtcManager::playChimeOnUserJoin() {
    KR_DCHECK_RUN_ON(checker_);
    // No file set: nothing to play (the engine would only report that it cannot open "").
    if (rtcEngine_ && !audioFilePathForUserJoin_.empty()) {
        rtcEngine_->startAudioMixing(audioFilePathForUserJoin_, true, false, 1, 0);
    }
}

void AgoraRtcManager::playChimeOnUserLeave() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_ && !audioFilePathForUserLeft_.empty()) {
        rtcEngine_->startAudioMixing(audioFilePathForUserLeft_, true, false, 1, 0);
    }
}

void AgoraRtcManager::switchClientRole(bool isAudience) {
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
        rtcEngine_->setClientRole(currentUserRole_);
    }
}

void AgoraRtcManager::setRemoteParticipantsVolume(std::int64_t value) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->adjustPlaybackSignalVolume(static_cast<int>(std::clamp<std::int64_t>(
            value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
    }
}

void AgoraRtcManager::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        setUpEngineVirtualBackground(*rtcEngine_, background);
    }
}

void AgoraRtcManager::switchAudioDevice(KRAudioDeviceType type) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        setUpEngineAudioDevice(*rtcEngine_, type);
    }
}

void AgoraRtcManager::setUpDualStream(bool enable) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->enableDualStreamMode(enable);
    }
}

void AgoraRtcManager::enableDisableAudioOnlyMode(bool isEnabled) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteAllRemoteVideoStreams(isEnabled);
    }
}

void AgoraRtcManager::setRemoteStreamQuality(KRRemoteStreamQuality quality,
                                             const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->setRemoteVideoStream(uintValue(uid), quality == KRRemoteStreamQuality::high
                                                             ? MediaCodes::kStreamHigh
                                                             : MediaCodes::kStreamLow);
    }
}

}  // namespace kr
