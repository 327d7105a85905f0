#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

// The host app's calls on the media engines: those every backend answers go to the meeting's,
// the wrapper's own settings go to the default engine's wrapper. The default engine's steps
// are DefaultEngineBackend's.

namespace kr {

namespace {

// What the published streams use where the server's configuration says nothing.
constexpr const KRRtcVideoEncoderConfig& kHighDefaults = kKRHighStreamEncoderDefaults;
constexpr const KRRtcVideoEncoderConfig& kLowDefaults = kKRLowStreamEncoderDefaults;

KRRtcVideoEncoderConfig encoderSettings(const KRVideoConfiguration& config,
                                        const KRRtcVideoEncoderConfig& defaults) {
    KRRtcVideoEncoderConfig settings = defaults;
    settings.width = config.width.value_or(defaults.width);
    settings.height = config.height.value_or(defaults.height);
    settings.bitRate = config.bitrate.value_or(defaults.bitRate);
    settings.frameRate = config.fps.value_or(defaults.frameRate);
    settings.orientation = config.orientation.value_or(defaults.orientation);
    return settings;
}

}  // namespace

// ---- The published streams' encoder settings, shared by both engines ----

KRRtcVideoEncoderConfig ClientCore::highQualityEncoderSettings() const {
    return settings_.highQualityVideoConfig ? encoderSettings(*settings_.highQualityVideoConfig, kHighDefaults)
                                   : kHighDefaults;
}

std::optional<KRRtcVideoEncoderConfig> ClientCore::lowQualityEncoderSettings() const {
    if (!settings_.lowQualityVideoConfig || !settings_.lowQualityVideoConfig->isEnabled.value_or(false)) {
        return std::nullopt;
    }
    return encoderSettings(*settings_.lowQualityVideoConfig, kLowDefaults);
}

// ---- Host operations on the engine ----

void ClientCore::setAudioFilePathForUserJoin(const std::string& filePath) {
    rtcManager()->setAudioFilePathForUserJoin(filePath);
}

void ClientCore::setAudioFilePathForUserLeft(const std::string& filePath) {
    rtcManager()->setAudioFilePathForUserLeft(filePath);
}

void ClientCore::setVideoConfiguration(const KRRtcVideoEncoderConfig& config) {
    rtcManager()->configureVideoEncoderConfiguration(config);
}

void ClientCore::setLowQualityVideoStream(const KRRtcVideoEncoderConfig& config) {
    rtcManager()->configureLowQualityVideoStream(config);
}

void ClientCore::setUpDualStream(bool enable) { rtcManager()->setUpDualStream(enable); }

void ClientCore::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.virtualBackgroundType = background;
    mediaBackend().applyVirtualBackground(background);
}

void ClientCore::startPreview() { mediaBackend().startPreview(); }

void ClientCore::stopPreview() { mediaBackend().stopPreview(); }

void ClientCore::switchCamera() { mediaBackend().switchCamera(); }

void ClientCore::getVideoPreview(const std::shared_ptr<platform::View>& placeholderView) {
    rtcManager()->setLocalCanvas(placeholderView);
    rtcManager()->startPreview();
}

void ClientCore::switchAudioDevice(KRAudioDeviceType type) { mediaBackend().switchAudioDevice(type); }

void ClientCore::switchLocalUserRole(const KRUserRole& newRole) {
    KR_DCHECK_RUN_ON(checker_);
    if (newRole.kind() == KRUserRole::Kind::host) return;
    mediaBackend().switchClientRole(newRole.kind() == KRUserRole::Kind::audience);
}

void ClientCore::subscribeRemoteUserAudio(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(true, id, true);
}

void ClientCore::unsubscribeRemoteUserAudio(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(true, id, false);
}

void ClientCore::subscribeRemoteUserVideo(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(false, id, true);
}

void ClientCore::unsubscribeRemoteUserVideo(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(false, id, false);
}

void ClientCore::setVideoStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) {
    mediaBackend().setRemoteStreamQuality(quality, uid);
}

void ClientCore::setRemoteUsersVolume(int value) { rtcManager()->setRemoteUsersVolume(value); }

void ClientCore::blockRemoteAudioVideo(std::uint64_t uid) {
    rtcManager()->blockRemoteAudioVideo(uid);
}

void ClientCore::removeBlockedRemoteAudioVideo(std::uint64_t uid) {
    rtcManager()->removeBlockedRemoteAudioVideo(uid);
}

bool ClientCore::hasHeadphones(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasHeadphones(route);
}

bool ClientCore::hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasBluetoothConnecte(route);
}

}  // namespace kr

namespace kr {

// ---- The room engine's calls the client answers (its backend's) ----

const std::shared_ptr<RtcManagerProtocol>& ClientCore::rtcEngineManager() const {
    return roomEngine().engine();
}
void ClientCore::setRtcEngineManager(std::shared_ptr<RtcManagerProtocol> engine) {
    KR_DCHECK_RUN_ON(checker_);
    roomEngine().setEngine(std::move(engine));
}
void ClientCore::configureForMultiMediaEngine(const KRJoinMeetingConfig& config) {
    KR_DCHECK_RUN_ON(checker_);
    roomEngine().configureForMultiMediaEngine(config);
}
bool ClientCore::isWaitingToBeReconnect() const { return roomEngine().isWaitingToBeReconnect(); }
std::shared_ptr<RtcManagerDelegate> ClientCore::multiMediaRtcDelegate() {
    return roomEngine().rtcDelegate();
}
std::shared_ptr<RtmManagerDelegate> ClientCore::multiMediaRtmDelegate() {
    return roomEngine().rtmDelegate();
}

}  // namespace kr
