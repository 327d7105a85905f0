#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include <boost/json/object.hpp>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/VideoEncoderConfiguration.h"
#include "platform/Media/VirtualBackgroundSource.h"

namespace kr {

namespace {

using platform::MediaCodes;
using namespace std::chrono_literals;

constexpr int kVolumeSmooth = 5;

int engineRole(bool isAudience) {
    return isAudience ? MediaCodes::kRoleAudience : MediaCodes::kRoleBroadcaster;
}

/// `config` with every value the engine cannot use replaced by that field of `defaults`, each
/// replacement logged as a warning: a size or frame rate must be a positive engine integer, a
/// bit rate or orientation an engine integer. One bad field costs no other field its value.
KRRtcVideoEncoderConfig usableEncoderValues(const KRRtcVideoEncoderConfig& config,
                                            const KRRtcVideoEncoderConfig& defaults,
                                            const std::string& stream,
                                            KivRaneRealTimeLogger2& logger) {
    struct Field {
        const char* name;
        std::int64_t KRRtcVideoEncoderConfig::*member;
        bool mustBePositive;
    };
    static constexpr Field kFields[] = {
        {"width", &KRRtcVideoEncoderConfig::width, true},
        {"height", &KRRtcVideoEncoderConfig::height, true},
        {"bitRate", &KRRtcVideoEncoderConfig::bitRate, false},
        {"frameRate", &KRRtcVideoEncoderConfig::frameRate, true},
        {"orientation", &KRRtcVideoEncoderConfig::orientation, false},
    };
    constexpr std::int64_t kMin = std::numeric_limits<int>::min();
    constexpr std::int64_t kMax = std::numeric_limits<int>::max();
    KRRtcVideoEncoderConfig usable = config;
    for (const Field& field : kFields) {
        const std::int64_t value = config.*field.member;
        if (value <= kMax && value >= (field.mustBePositive ? 1 : kMin)) {
            continue;
        }
        usable.*field.member = defaults.*field.member;
        logger.warn(stream + " " + field.name + " " + std::to_string(value) +
                    " cannot be used ::: using " + std::to_string(defaults.*field.member));
    }
    return usable;
}

}  // namespace

std::shared_ptr<KRRtcManger> KRRtcManger::create(
    std::shared_ptr<platform::DispatchQueue> queue,
    std::shared_ptr<platform::MediaEngineFactory> engineFactory,
    std::shared_ptr<KivRaneRealTimeLogger2> logger) {
    return std::shared_ptr<KRRtcManger>(
        new KRRtcManger(std::move(queue), std::move(engineFactory), std::move(logger)));
}

KRRtcManger::KRRtcManger(std::shared_ptr<platform::DispatchQueue> queue,
                         std::shared_ptr<platform::MediaEngineFactory> engineFactory,
                         std::shared_ptr<KivRaneRealTimeLogger2> logger)
    : queue_(std::move(queue)),
      engineFactory_(std::move(engineFactory)),
      logger_(logger ? std::move(logger) : std::make_shared<KivRaneRealTimeLogger2>("KivRaneRTC")),
      currentUserRole_(MediaCodes::kRoleAudience) {}

// Pending timers hold this object weakly; the frozen-video and role-retry helpers drop them
// early as they go.
KRRtcManger::~KRRtcManger() = default;

template <typename Report>
void KRRtcManger::report(Report&& call) {
    if (auto delegate = delegate_.lock()) {
        call(*delegate);
    }
}

// ---- state ----------------------------------------------------------------------------------

void KRRtcManger::setDelegate(std::weak_ptr<KRRtcManagerDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    delegate_ = std::move(delegate);
}

void KRRtcManger::setAudioFilePathForUserJoin(std::string path) {
    audioFilePathForUserJoin_ = std::move(path);
}

void KRRtcManger::setAudioFilePathForUserLeft(std::string path) {
    audioFilePathForUserLeft_ = std::move(path);
}

std::shared_ptr<KRRtcParticipant> KRRtcManger::participantOf(std::uint64_t uid) const {
    const auto it =
        std::find_if(allRtcParticipants_.begin(), allRtcParticipants_.end(),
                     [uid](const std::shared_ptr<KRRtcParticipant>& p) { return p->uid() == uid; });
    return it == allRtcParticipants_.end() ? nullptr : *it;
}

std::shared_ptr<KRRtcParticipant> KRRtcManger::localParticipant() const {
    return participantOf(localUserUid_);
}

void KRRtcManger::removeParticipants(std::uint64_t uid) {
    std::erase_if(allRtcParticipants_,
                  [uid](const std::shared_ptr<KRRtcParticipant>& p) { return p->uid() == uid; });
}

std::optional<std::uint64_t> KRRtcManger::parseRemoteUid(const std::string& uid,
                                                         const char* action) {
    auto parsed = parseUInt(uid);
    if (!parsed) {
        logger_->info(std::string("Ignoring ") + action + " for UID " + uid +
                      " ::: not an engine uid");
    }
    return parsed;
}

// ---- set-up, join, leave --------------------------------------------------------------------

void KRRtcManger::configureRTCEngine(const std::string& appId,
                                     std::weak_ptr<KRRtcManagerDelegate> managerDelegate,
                                     int volumeIndicationInterval) {
    KR_DCHECK_RUN_ON(checker_);
    delegate_ = std::move(managerDelegate);
    rtcEngineAppId_ = appId;
    if (resetPending_) {
        // Set up again before the reset that followed the last leave has run: finish it first,
        // so the new meeting does not lose its engine to that reset.
        resetRtcEngine();
    }
    // The factory is shared with the client's other engine wrapper, which may have ended the
    // engine this wrapper still points to.
    const bool held = rtcEngine_ && engineFactory_->engine() == rtcEngine_;
    if (held && engineMadeForAppId_ == appId) {
        return;
    }
    if (held && rtcEngine_->getConnectionState() != MediaCodes::kConnectionDisconnected) {
        // An engine keeps the app id it was made with, but replacing it now would pull the user
        // out of the channel unannounced: the new app id waits for the engine made after the
        // leave.
        logger_->info("RTC Engine kept until the channel is left ::: new app id " + appId);
        return;
    }
    if (held) {
        // An engine keeps the app id it was made with; a new one needs a new engine.
        rtcEngine_->setDelegate({});
        rtcEngine_.reset();
        engineFactory_->destroy();
    }
    rtcEngine_ = engineFactory_->sharedEngineWithAppId(appId, weak_from_this());
    engineMadeForAppId_ = appId;
    runEngineSetUp(volumeIndicationInterval);
    logger_->info("RTC Engine Configured");
}

void KRRtcManger::runEngineSetUp(int volumeIndicationInterval) {
    const auto& engine = rtcEngine_;
    if (!engine) {
        return;
    }
    engine->enableDualStreamMode(true);
    engine->setChannelProfile(MediaCodes::kChannelProfileLiveBroadcasting);
    engine->setDefaultAudioRouteToSpeakerphone(true);
    engine->setRemoteSubscribeFallbackOption(MediaCodes::kStreamFallbackAudioOnly);
    engine->setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioMeeting);
    engine->setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioChatRoom);
    engine->setAudioSessionOperationRestriction(
        MediaCodes::kAudioSessionRestrictionDeactivateSession);
    engine->setParameters(R"({"che.audio.use.callkit":true})");
    engine->setParameters(R"({"che.audio.force_report_local_volume":true})");
    engine->setParameters(R"({"che.audio.restartWhenInterrupted":true})");
    engine->enableAudioVolumeIndication(volumeIndicationInterval, kVolumeSmooth, true);
    engine->enableDeepLearningDenoise(true);
    engine->enableVideo();
}

void KRRtcManger::configureVideoEncoderConfiguration(const KRRtcVideoEncoderConfig& given) {
    KR_DCHECK_RUN_ON(checker_);
    const auto config =
        usableEncoderValues(given, kKRHighStreamEncoderDefaults, "Video Encoder", *logger_);
    if (rtcEngine_) {
        rtcEngine_->setVideoEncoderConfiguration(platform::VideoEncoderConfiguration{
            .width = static_cast<int>(config.width),
            .height = static_cast<int>(config.height),
            .frameRate = static_cast<int>(config.frameRate),
            .bitrate = static_cast<int>(config.bitRate),
            .orientationMode = static_cast<int>(config.orientation),
        });
    }
}

void KRRtcManger::configureLowQualityVideoStream(const KRRtcVideoEncoderConfig& given) {
    KR_DCHECK_RUN_ON(checker_);
    const auto config = usableEncoderValues(given, kKRLowStreamEncoderDefaults,
                                            "Low Quality Video Stream", *logger_);
    boost::json::object stream;
    stream["width"] = config.width;
    stream["height"] = config.height;
    stream["frameRate"] = config.frameRate;
    stream["bitRate"] = config.bitRate;
    boost::json::object parameters;
    parameters["che.video.lowBitRateStreamParameter"] = std::move(stream);
    const std::string text = asString(parameters);
    if (text.empty()) {
        return;
    }
    if (rtcEngine_) {
        rtcEngine_->setParameters(text);
    }
}

void KRRtcManger::setUpDualStream(bool enable) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->enableDualStreamMode(enable);
    }
}

void KRRtcManger::setUpLocalRtcParticipantView(
    const std::shared_ptr<KRRtcParticipant>& participant) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_ && participant) {
        rtcEngine_->setupLocalVideo(*participant->getRtcCanvas());
    }
}

void KRRtcManger::setLocalCanvas(const std::shared_ptr<platform::View>& videoView) {
    KR_DCHECK_RUN_ON(checker_);
    const platform::VideoCanvas canvas{
        .uid = 0, .view = videoView, .renderMode = MediaCodes::kRenderHidden};
    if (!rtcEngine_) {
        return;
    }
    if (!videoView) {
        rtcEngine_->setupLocalVideo(std::nullopt);
    } else {
        rtcEngine_->setupLocalVideo(canvas);
    }
}

void KRRtcManger::startPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->startPreview();
    }
}

void KRRtcManger::stopPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->stopPreview();
    }
}

void KRRtcManger::joinRoom(std::uint64_t uid, const std::string& token, const std::string& roomId,
                           bool isAudience,
                           const std::optional<KRVirtualBackgroundType>& virtualBackground) {
    KR_DCHECK_RUN_ON(checker_);
    logger_->info("Local Participant Joining RTC Channel " + roomId);
    currentUserRole_ = engineRole(isAudience);
    if (rtcEngine_) {
        rtcEngine_->setClientRole(engineRole(isAudience));
    }
    if (virtualBackground) {
        applyVirtualBackground(*virtualBackground);
    }
    platform::ChannelMediaOptions options;
    options.autoSubscribeVideo = false;
    options.autoSubscribeAudio = false;
    if (rtcEngine_) {
        rtcEngine_->joinChannelByToken(token, roomId, "", uid, options);
    }
}

void KRRtcManger::leaveMeetingRoom() {
    KR_DCHECK_RUN_ON(checker_);
    roleRetry_.cancel();
    if (rtcEngine_) {
        rtcEngine_->leaveChannel();
    }
}

bool KRRtcManger::isConnected() const {
    KR_DCHECK_RUN_ON(checker_);
    return rtcEngine_ && rtcEngine_->getConnectionState() == MediaCodes::kConnectionConnected;
}

void KRRtcManger::resetRtcEngine() {
    resetPending_ = false;
    isLocalUserAudioMuted_ = false;
    isLocalUserVideoMuted_ = false;
    stopPreview();
    const auto engine = std::exchange(rtcEngine_, nullptr);
    if (engine) {
        engine->setupLocalVideo(std::nullopt);
        engine->setDelegate({});
        engine->disableVideo();
        // Only the engine this wrapper set up: the factory may by now hold the other wrapper's.
        if (engineFactory_->engine() == engine) {
            engineFactory_->destroy();
        }
    }
    logger_->info("Destroying RTC Engine Instance");
}

void KRRtcManger::clearMeetingState() {
    frozen_.clear();
    volumes_.clear();
    localUserUid_ = 0;
    roleRetry_.reset();
    currentRTCAudioRoute_ = KRAudioRouteType::speaker;
}

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
        volumes_.setLocalLevel(0);
        if (const auto it = volumes_.levels().find(localUserUid_); it != volumes_.levels().end()) {
            it->second = 0;
        }
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
    }
    if (rtcEngine_) {
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
    struct Row {
        bool muteAllRemoteAudio;
        bool speakerphone;
        int playbackVolume;
    };
    const Row row = type == KRAudioDeviceType::speaker  ? Row{false, true, 100}
                    : type == KRAudioDeviceType::device ? Row{false, false, 100}
                                                        : Row{true, false, 0};
    if (rtcEngine_) {
        rtcEngine_->muteAllRemoteAudioStreams(row.muteAllRemoteAudio);
    }
    if (rtcEngine_) {
        rtcEngine_->setEnableSpeakerphone(row.speakerphone);
    }
    if (rtcEngine_) {
        rtcEngine_->adjustPlaybackSignalVolume(row.playbackVolume);
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
    platform::VirtualBackgroundSource source;
    bool enable = true;
    if (const auto* blur = background.ifBlur()) {
        source.backgroundSourceType = MediaCodes::kBackgroundBlur;
        source.blurDegree = static_cast<int>(rawValue(blur->intensity));
    } else if (const auto* image = background.ifImage()) {
        source.backgroundSourceType = MediaCodes::kBackgroundImage;
        source.source = image->path;
    } else if (const auto* color = background.ifColor()) {
        source.backgroundSourceType = MediaCodes::kBackgroundColor;
        source.color = static_cast<std::uint32_t>(hexa(*color->color));
    } else {
        enable = false;
    }
    if (!rtcEngine_) {
        return;
    }
    if (enable) {
        rtcEngine_->enableVirtualBackground(true, source);
    } else {
        rtcEngine_->enableVirtualBackground(false, std::nullopt);
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
        }
        if (rtcEngine_) {
            rtcEngine_->muteRemoteVideoStream(uid, true);
        }
        return;
    }
    report([uid](KRRtcManagerDelegate& d) { d.didRemoteStreamAddedToChannel(uid); });
}

void KRRtcManger::didOfflineOfUid(std::uint64_t uid, int reason) {
    KR_DCHECK_RUN_ON(checker_);
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
        return;
    }
    switch (state) {
        case MediaCodes::kRemoteStateDecoding:
            frozen_.remove(uid);
            participant->setIsVideoMuted(false);
            logger_->info("Remote Participant video Unmuted with UID - " + std::to_string(uid));
            break;
        case MediaCodes::kRemoteStateStopped:
        case MediaCodes::kRemoteStateFailed:
            frozen_.remove(uid);
            participant->setIsVideoMuted(true);
            logger_->info("Remote Participant video Muted with UID - " + std::to_string(uid));
            break;
        case MediaCodes::kRemoteStateFrozen:
            handleFrozenVideo(participant, reason);
            return;
        default:
            break;
    }
    report([&](KRRtcManagerDelegate& d) { d.didRemoteParticipantVideoStatusUpdated(participant); });
}

void KRRtcManger::remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto participant = participantOf(uid);
    if (!participant) {
        return;
    }
    if (state == MediaCodes::kRemoteStateDecoding) {
        participant->setIsAudioMuted(false);
        logger_->info("Remote Participant Audio Unmuted with UID - " + std::to_string(uid));
    } else if (state == MediaCodes::kRemoteStateStopped || state == MediaCodes::kRemoteStateFailed) {
        logger_->info("Remote Participant Audio Muted with UID - " + std::to_string(uid));
        participant->setIsAudioMuted(true);
        participant->setIsLoudest(false);
        volumes_.levels()[uid] = 0;
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
    if (newRole == MediaCodes::kRoleBroadcaster) {
        roleRetry_.reset();
    } else {
        roleRetry_.cancel();
    }
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
