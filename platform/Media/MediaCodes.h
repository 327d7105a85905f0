#pragma once

namespace kr::platform {

/// The integer codes the stand-in media engine speaks: return codes of its calls and the states,
/// reasons, roles and routes its callbacks carry. Where the library maps a value, the number here
/// is the number the library expects; the rest are this stand-in's own choice.
struct MediaCodes {
    // Return codes of engine calls.
    static constexpr int kOk = 0;
    static constexpr int kErrFailed = -1;
    static constexpr int kErrInvalidArgument = -2;
    static constexpr int kErrNotReady = -3;    // the engine has been destroyed
    static constexpr int kErrWrongState = -4;  // e.g. a join while already in a channel

    // Client roles.
    static constexpr int kRoleBroadcaster = 1;
    static constexpr int kRoleAudience = 2;
    // Reason of a refused role change.
    static constexpr int kRoleChangeFailedTooManyBroadcasters = 1;

    // Settings the library makes at set-up.
    static constexpr int kChannelProfileLiveBroadcasting = 1;
    static constexpr int kAudioProfileSpeechStandard = 1;
    static constexpr int kAudioScenarioChatRoom = 1;
    static constexpr int kAudioScenarioMeeting = 7;
    static constexpr int kAudioSessionRestrictionDeactivateSession = 4;
    static constexpr int kStreamFallbackAudioOnly = 1;

    // Connection states and the reasons this engine reports with them.
    static constexpr int kConnectionDisconnected = 1;
    static constexpr int kConnectionConnecting = 2;
    static constexpr int kConnectionConnected = 3;
    static constexpr int kConnectionReconnecting = 4;
    static constexpr int kConnectionFailed = 5;
    static constexpr int kConnectionReasonConnecting = 0;
    static constexpr int kConnectionReasonJoinSuccess = 1;
    static constexpr int kConnectionReasonInterrupted = 2;
    static constexpr int kConnectionReasonJoinFailed = 4;
    static constexpr int kConnectionReasonLeaveChannel = 5;

    // Why a remote user went offline.
    static constexpr int kOfflineQuit = 0;
    static constexpr int kOfflineDropped = 1;
    static constexpr int kOfflineBecameAudience = 2;

    // Remote audio and video stream states (same numbers for both).
    static constexpr int kRemoteStateStopped = 0;
    static constexpr int kRemoteStateStarting = 1;
    static constexpr int kRemoteStateDecoding = 2;
    static constexpr int kRemoteStateFrozen = 3;
    static constexpr int kRemoteStateFailed = 4;
    // Reasons of remote state changes.
    static constexpr int kRemoteReasonInternal = 0;
    static constexpr int kRemoteReasonNetworkCongestion = 1;
    static constexpr int kRemoteReasonNetworkRecovery = 2;
    static constexpr int kRemoteReasonLocalMuted = 3;
    static constexpr int kRemoteReasonLocalUnmuted = 4;
    static constexpr int kRemoteReasonRemoteMuted = 5;
    static constexpr int kRemoteReasonRemoteUnmuted = 6;
    static constexpr int kRemoteReasonAudioFallback = 8;
    static constexpr int kRemoteReasonAudioFallbackRecovery = 9;

    // Local device states; a failure carries the error number in the callback.
    static constexpr int kLocalStateStopped = 0;
    static constexpr int kLocalStateRecording = 1;
    static constexpr int kLocalStateEncoding = 2;
    static constexpr int kLocalStateFailed = 3;

    // Errors of the local microphone (localAudioStateChange).
    static constexpr int kAudioErrorOk = 0;
    static constexpr int kAudioErrorFailure = 1;
    static constexpr int kAudioErrorNoPermission = 2;
    static constexpr int kAudioErrorDeviceBusy = 3;
    static constexpr int kAudioErrorRecordFailure = 4;
    static constexpr int kAudioErrorEncodeFailure = 5;
    static constexpr int kAudioErrorInterrupted = 8;

    // Errors of the local camera (localVideoStateChange).
    static constexpr int kVideoErrorOk = 0;
    static constexpr int kVideoErrorFailure = 1;
    static constexpr int kVideoErrorNoPermission = 2;
    static constexpr int kVideoErrorDeviceBusy = 3;
    static constexpr int kVideoErrorCaptureFailure = 4;
    static constexpr int kVideoErrorEncodeFailure = 5;
    static constexpr int kVideoErrorCaptureInBackground = 6;
    static constexpr int kVideoErrorCaptureMultipleForegroundApps = 7;
    static constexpr int kVideoErrorNoDeviceFound = 8;
    static constexpr int kVideoErrorDeviceDisconnected = 9;
    static constexpr int kVideoErrorDeviceInvalidId = 10;
    static constexpr int kVideoErrorScreenCaptureWindowMinimized = 11;
    static constexpr int kVideoErrorScreenCaptureWindowClosed = 12;
    static constexpr int kVideoErrorExtensionCaptureStarted = 13;
    static constexpr int kVideoErrorExtensionCaptureStopped = 14;
    static constexpr int kVideoErrorExtensionCaptureDisconnected = 15;

    // Network quality grades of networkQuality().
    static constexpr int kQualityUnknown = 0;
    static constexpr int kQualityExcellent = 1;
    static constexpr int kQualityGood = 2;
    static constexpr int kQualityPoor = 3;
    static constexpr int kQualityBad = 4;
    static constexpr int kQualityVeryBad = 5;
    static constexpr int kQualityDown = 6;

    // Audio output routes.
    static constexpr int kRouteHeadset = 0;
    static constexpr int kRouteEarpiece = 1;
    static constexpr int kRouteHeadsetNoMic = 2;
    static constexpr int kRouteSpeakerphone = 3;
    static constexpr int kRouteLoudspeaker = 4;
    static constexpr int kRouteBluetooth = 5;

    // Audio mixing states.
    static constexpr int kMixingPlaying = 710;
    static constexpr int kMixingFailed = 714;
    // Reasons of audio mixing states.
    static constexpr int kMixingReasonCanNotOpen = 701;
    static constexpr int kMixingReasonTooFrequentCall = 702;

    // Remote video stream types.
    static constexpr int kStreamHigh = 0;
    static constexpr int kStreamLow = 1;

    // Render modes of a video canvas.
    static constexpr int kRenderHidden = 1;
    static constexpr int kRenderFit = 2;
    static constexpr int kRenderFill = 4;

    // Virtual background source types.
    static constexpr int kBackgroundColor = 1;
    static constexpr int kBackgroundImage = 2;
    static constexpr int kBackgroundBlur = 3;
};

}  // namespace kr::platform
