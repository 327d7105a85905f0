#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/VirtualBackgroundSource.h"

namespace kr {

namespace {

using platform::MediaCodes;

struct ErrorRow {
    int code;
    KRAudioVideoErrorType type;
    const char* text;
};

// A missing permission is the one failure the user can fix in settings, so it gets its own
// class; a camera that is gone or renamed is worth a reconnect, not silence.
constexpr std::array kAudioErrors = {
    ErrorRow{MediaCodes::kAudioErrorOk, KRAudioVideoErrorType::ok, "OK"},
    ErrorRow{MediaCodes::kAudioErrorFailure, KRAudioVideoErrorType::reconnectError,
             "AudioLocalErrorFailure"},
    ErrorRow{MediaCodes::kAudioErrorNoPermission, KRAudioVideoErrorType::permissionError,
             "AudioLocalErrorDeviceNoPermission"},
    ErrorRow{MediaCodes::kAudioErrorDeviceBusy, KRAudioVideoErrorType::deviceBusyError,
             "AudioLocalErrorDeviceBusy"},
    ErrorRow{MediaCodes::kAudioErrorRecordFailure, KRAudioVideoErrorType::reconnectError,
             "AudioLocalErrorRecordFailure"},
    ErrorRow{MediaCodes::kAudioErrorEncodeFailure, KRAudioVideoErrorType::reconnectError,
             "AudioLocalErrorEncodeFailure"},
    ErrorRow{MediaCodes::kAudioErrorInterrupted, KRAudioVideoErrorType::deviceBusyError,
             "AudioLocalErrorInterrupted"},
};

constexpr std::array kVideoErrors = {
    ErrorRow{MediaCodes::kVideoErrorOk, KRAudioVideoErrorType::ok, "OK"},
    ErrorRow{MediaCodes::kVideoErrorFailure, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorFailure"},
    ErrorRow{MediaCodes::kVideoErrorNoPermission, KRAudioVideoErrorType::permissionError,
             "LocalVideoStreamErrorDeviceNoPermission"},
    ErrorRow{MediaCodes::kVideoErrorDeviceBusy, KRAudioVideoErrorType::deviceBusyError,
             "LocalVideoStreamErrorDeviceBusy"},
    ErrorRow{MediaCodes::kVideoErrorCaptureFailure, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorCaptureFailure"},
    ErrorRow{MediaCodes::kVideoErrorEncodeFailure, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorEncodeFailure"},
    ErrorRow{MediaCodes::kVideoErrorCaptureInBackground,
             KRAudioVideoErrorType::multipleAppsOrBackground,
             "LocalVideoStreamErrorCaptureInBackGround"},
    ErrorRow{MediaCodes::kVideoErrorCaptureMultipleForegroundApps,
             KRAudioVideoErrorType::multipleAppsOrBackground,
             "LocalVideoStreamErrorCaptureMultipleForegroundApps"},
    ErrorRow{MediaCodes::kVideoErrorNoDeviceFound, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorCaptureNoDeviceFound"},
    ErrorRow{MediaCodes::kVideoErrorDeviceDisconnected, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorCaptureDeviceDisconnected"},
    ErrorRow{MediaCodes::kVideoErrorDeviceInvalidId, KRAudioVideoErrorType::reconnectError,
             "LocalVideoStreamErrorCaptureDeviceInvalidId"},
    ErrorRow{MediaCodes::kVideoErrorScreenCaptureWindowMinimized, KRAudioVideoErrorType::ok,
             "LocalVideoStreamErrorScreenCaptureWindowMinimized"},
    ErrorRow{MediaCodes::kVideoErrorScreenCaptureWindowClosed, KRAudioVideoErrorType::ok,
             "LocalVideoStreamErrorScreenCaptureWindowClosed"},
    ErrorRow{MediaCodes::kVideoErrorExtensionCaptureStarted, KRAudioVideoErrorType::ok,
             "LocalVideoStreamErrorExtensionCaptureStarted"},
    ErrorRow{MediaCodes::kVideoErrorExtensionCaptureStopped, KRAudioVideoErrorType::ok,
             "LocalVideoStreamErrorExtensionCaptureStoped"},
    ErrorRow{MediaCodes::kVideoErrorExtensionCaptureDisconnected, KRAudioVideoErrorType::ok,
             "LocalVideoStreamErrorExtensionCaptureDisconnected"},
};

template <std::size_t N>
const ErrorRow* findRow(const std::array<ErrorRow, N>& rows, int code) {
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [code](const ErrorRow& row) { return row.code == code; });
    return it == rows.end() ? nullptr : &*it;
}

template <std::size_t N>
KRAudioVideoErrorType typeOf(const std::array<ErrorRow, N>& rows, int code) {
    const ErrorRow* row = findRow(rows, code);
    return row ? row->type : KRAudioVideoErrorType::unknown;
}

template <std::size_t N>
std::string textOf(const std::array<ErrorRow, N>& rows, int code) {
    const ErrorRow* row = findRow(rows, code);
    return row ? std::string(row->text) : std::to_string(code);
}

/// The engine's background for `background`, or nullopt when it asks for none (the virtual
/// background is switched off then).
std::optional<platform::VirtualBackgroundSource> virtualBackgroundSource(
    const KRVirtualBackgroundType& background) {
    platform::VirtualBackgroundSource source;
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
        return std::nullopt;
    }
    return source;
}

struct AudioDeviceSettings {
    bool muteAllRemoteAudio;
    bool speakerphone;
    int playbackVolume;
};

AudioDeviceSettings audioDeviceSettings(KRAudioDeviceType type) {
    switch (type) {
        case KRAudioDeviceType::speaker:
            return {.muteAllRemoteAudio = false, .speakerphone = true, .playbackVolume = 100};
        case KRAudioDeviceType::device:
            return {.muteAllRemoteAudio = false, .speakerphone = false, .playbackVolume = 100};
        default:
            return {.muteAllRemoteAudio = true, .speakerphone = false, .playbackVolume = 0};
    }
}

}  // namespace

KRNetworkQuality networkQualityFromEngine(int quality) {
    switch (quality) {
        case MediaCodes::kQualityExcellent:
        case MediaCodes::kQualityGood:
            return KRNetworkQuality::good;
        case MediaCodes::kQualityPoor:
            return KRNetworkQuality::low;
        case MediaCodes::kQualityBad:
        case MediaCodes::kQualityVeryBad:
            return KRNetworkQuality::bad;
        default:
            return KRNetworkQuality::detecting;
    }
}

KRNetworkQuality networkQualityFromEngine(int txQuality, int rxQuality) {
    const KRNetworkQuality tx = networkQualityFromEngine(txQuality);
    const KRNetworkQuality rx = networkQualityFromEngine(rxQuality);
    // Worst first; `detecting` only wins when neither side has a grade.
    for (const KRNetworkQuality grade :
         {KRNetworkQuality::bad, KRNetworkQuality::low, KRNetworkQuality::good}) {
        if (tx == grade || rx == grade) {
            return grade;
        }
    }
    return KRNetworkQuality::detecting;
}

std::optional<KRAudioRouteType> audioRouteFromEngine(int routing) {
    switch (routing) {
        case MediaCodes::kRouteHeadset:
        case MediaCodes::kRouteHeadsetNoMic:
            return KRAudioRouteType::headPhone;
        case MediaCodes::kRouteEarpiece:
            return KRAudioRouteType::audioHandset;
        case MediaCodes::kRouteSpeakerphone:
        case MediaCodes::kRouteLoudspeaker:
            return KRAudioRouteType::speaker;
        case MediaCodes::kRouteBluetooth:
            return KRAudioRouteType::blueTooth;
        default:
            return std::nullopt;
    }
}

KRConnectionState connectionStateFromEngine(int state) {
    return knownConnectionStateFromEngine(state).value_or(KRConnectionState::connected);
}

std::optional<KRConnectionState> knownConnectionStateFromEngine(int state) {
    switch (state) {
        case MediaCodes::kConnectionDisconnected:
            return KRConnectionState::disconnected;
        case MediaCodes::kConnectionConnecting:
            return KRConnectionState::connecting;
        case MediaCodes::kConnectionConnected:
            return KRConnectionState::connected;
        case MediaCodes::kConnectionReconnecting:
            return KRConnectionState::reconnecting;
        case MediaCodes::kConnectionFailed:
            return KRConnectionState::failed;
        default:
            return std::nullopt;
    }
}

KRUserLeftReason userLeftReasonFromEngine(int reason) {
    switch (reason) {
        case MediaCodes::kOfflineQuit:
            return KRUserLeftReason::leaveMeeting();
        case MediaCodes::kOfflineDropped:
            return KRUserLeftReason::networkDropped();
        case MediaCodes::kOfflineBecameAudience:
            return KRUserLeftReason::becomeAudience();
        default:
            return KRUserLeftReason::none();
    }
}

KRAudioVideoErrorType audioErrorType(int error) {
    return typeOf(kAudioErrors, error);
}

std::string audioErrorDescription(int error) {
    return textOf(kAudioErrors, error);
}

KRAudioVideoErrorType videoErrorType(int error) {
    return typeOf(kVideoErrors, error);
}

std::string videoErrorDescription(int error) {
    return textOf(kVideoErrors, error);
}

void setUpMeetingEngine(platform::MediaEngine& engine, int volumeIndicationIntervalMs) {
    constexpr int kVolumeSmooth = 5;
    engine.enableDualStreamMode(true);
    engine.setChannelProfile(MediaCodes::kChannelProfileLiveBroadcasting);
    engine.setDefaultAudioRouteToSpeakerphone(true);
    engine.setRemoteSubscribeFallbackOption(MediaCodes::kStreamFallbackAudioOnly);
    engine.setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioMeeting);
    engine.setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioChatRoom);
    engine.setAudioSessionOperationRestriction(
        MediaCodes::kAudioSessionRestrictionDeactivateSession);
    engine.setParameters(R"({"che.audio.use.callkit":true})");
    engine.setParameters(R"({"che.audio.force_report_local_volume":true})");
    engine.setParameters(R"({"che.audio.restartWhenInterrupted":true})");
    engine.enableAudioVolumeIndication(volumeIndicationIntervalMs, kVolumeSmooth, true);
    engine.enableDeepLearningDenoise(true);
    engine.enableVideo();
}

int engineRole(bool isAudience) {
    return isAudience ? MediaCodes::kRoleAudience : MediaCodes::kRoleBroadcaster;
}

void setUpEngineVirtualBackground(platform::MediaEngine& engine,
                                  const KRVirtualBackgroundType& background) {
    const auto source = virtualBackgroundSource(background);
    engine.enableVirtualBackground(source.has_value(), source);
}

void setUpEngineAudioDevice(platform::MediaEngine& engine, KRAudioDeviceType type) {
    const AudioDeviceSettings settings = audioDeviceSettings(type);
    engine.muteAllRemoteAudioStreams(settings.muteAllRemoteAudio);
    engine.setEnableSpeakerphone(settings.speakerphone);
    engine.adjustPlaybackSignalVolume(settings.playbackVolume);
}

}  // namespace kr
