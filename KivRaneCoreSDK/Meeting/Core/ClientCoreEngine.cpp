#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

// The published streams' encoder settings and the two engine calls that change what the client
// holds. The host app's other engine calls go from `KRClient` straight to the meeting's backend
// or the default engine's wrapper; the default engine's steps are DefaultEngineBackend's.

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

// ---- Host operations on the engine that the client itself keeps ----

void ClientCore::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.virtualBackgroundType = background;
    mediaBackend().applyVirtualBackground(background);
}

void ClientCore::switchLocalUserRole(const KRUserRole& newRole) {
    KR_DCHECK_RUN_ON(checker_);
    if (newRole.kind() == KRUserRole::Kind::host) return;
    mediaBackend().switchClientRole(newRole.kind() == KRUserRole::Kind::audience);
}

}  // namespace kr
