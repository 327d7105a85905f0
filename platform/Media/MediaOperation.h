#pragma once

#include <string>
#include <string_view>

namespace kr::platform {

/// Every call a media engine accepts; names its entries in the call log and selects the call an
/// injected failure applies to.
enum class MediaOperation {
    enableDualStreamMode,
    setChannelProfile,
    setAudioProfile,
    setDefaultAudioRouteToSpeakerphone,
    setRemoteSubscribeFallbackOption,
    setAudioSessionOperationRestriction,
    setParameters,
    enableAudioVolumeIndication,
    enableDeepLearningDenoise,
    enableVideo,
    disableVideo,
    setVideoEncoderConfiguration,
    joinChannelByToken,
    leaveChannel,
    setClientRole,
    getConnectionState,
    setupLocalVideo,
    setupRemoteVideo,
    startPreview,
    stopPreview,
    muteLocalAudioStream,
    muteLocalVideoStream,
    enableLocalVideo,
    switchCamera,
    muteRemoteAudioStream,
    muteRemoteVideoStream,
    muteAllRemoteAudioStreams,
    muteAllRemoteVideoStreams,
    setRemoteVideoStream,
    adjustPlaybackSignalVolume,
    setEnableSpeakerphone,
    startAudioMixing,
    enableVirtualBackground,
    setDelegate,
};

/// The method name of an operation, e.g. "joinChannelByToken".
std::string_view mediaOperationName(MediaOperation operation);

}  // namespace kr::platform
