#include "platform/Media/MediaOperation.h"

namespace kr::platform {

std::string_view mediaOperationName(MediaOperation operation) {
    switch (operation) {
        case MediaOperation::enableDualStreamMode:
            return "enableDualStreamMode";
        case MediaOperation::setChannelProfile:
            return "setChannelProfile";
        case MediaOperation::setAudioProfile:
            return "setAudioProfile";
        case MediaOperation::setDefaultAudioRouteToSpeakerphone:
            return "setDefaultAudioRouteToSpeakerphone";
        case MediaOperation::setRemoteSubscribeFallbackOption:
            return "setRemoteSubscribeFallbackOption";
        case MediaOperation::setAudioSessionOperationRestriction:
            return "setAudioSessionOperationRestriction";
        case MediaOperation::setParameters:
            return "setParameters";
        case MediaOperation::enableAudioVolumeIndication:
            return "enableAudioVolumeIndication";
        case MediaOperation::enableDeepLearningDenoise:
            return "enableDeepLearningDenoise";
        case MediaOperation::enableVideo:
            return "enableVideo";
        case MediaOperation::disableVideo:
            return "disableVideo";
        case MediaOperation::setVideoEncoderConfiguration:
            return "setVideoEncoderConfiguration";
        case MediaOperation::joinChannelByToken:
            return "joinChannelByToken";
        case MediaOperation::leaveChannel:
            return "leaveChannel";
        case MediaOperation::setClientRole:
            return "setClientRole";
        case MediaOperation::getConnectionState:
            return "getConnectionState";
        case MediaOperation::setupLocalVideo:
            return "setupLocalVideo";
        case MediaOperation::setupRemoteVideo:
            return "setupRemoteVideo";
        case MediaOperation::startPreview:
            return "startPreview";
        case MediaOperation::stopPreview:
            return "stopPreview";
        case MediaOperation::muteLocalAudioStream:
            return "muteLocalAudioStream";
        case MediaOperation::muteLocalVideoStream:
            return "muteLocalVideoStream";
        case MediaOperation::enableLocalVideo:
            return "enableLocalVideo";
        case MediaOperation::switchCamera:
            return "switchCamera";
        case MediaOperation::muteRemoteAudioStream:
            return "muteRemoteAudioStream";
        case MediaOperation::muteRemoteVideoStream:
            return "muteRemoteVideoStream";
        case MediaOperation::muteAllRemoteAudioStreams:
            return "muteAllRemoteAudioStreams";
        case MediaOperation::muteAllRemoteVideoStreams:
            return "muteAllRemoteVideoStreams";
        case MediaOperation::setRemoteVideoStream:
            return "setRemoteVideoStream";
        case MediaOperation::adjustPlaybackSignalVolume:
            return "adjustPlaybackSignalVolume";
        case MediaOperation::setEnableSpeakerphone:
            return "setEnableSpeakerphone";
        case MediaOperation::startAudioMixing:
            return "startAudioMixing";
        case MediaOperation::enableVirtualBackground:
            return "enableVirtualBackground";
        case MediaOperation::setDelegate:
            return "setDelegate";
    }
    return "unknown";
}

}  // namespace kr::platform
