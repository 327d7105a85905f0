#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <boost/json/object.hpp>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/VideoEncoderConfiguration.h"

// The wrapper's life: creation, the participant list, engine set-up and encoders, join and leave.

namespace kr {

namespace {

using platform::MediaCodes;
using namespace std::chrono_literals;

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
    if (rtcEngine_) {
        setUpMeetingEngine(*rtcEngine_, volumeIndicationInterval);
    }
    logger_->info("RTC Engine Configured");
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

void KRRtcManger::dropEngineStillInChannel() {
    KR_DCHECK_RUN_ON(checker_);
    roleRetry_.cancel();
    clearMeetingState();
    resetRtcEngine();
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
    earlyMedia_.clear();
    frozen_.clear();
    volumes_.clear();
    localUserUid_ = 0;
    roleRetry_.reset();
    currentRTCAudioRoute_ = KRAudioRouteType::speaker;
}

}  // namespace kr
