#pragma once

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/AudioVideoState.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Meeting/KRMeetingError.h"
#include "KivRaneCoreSDK/Meeting/KRMeetingJoinError.h"
#include "KivRaneCoreSDK/Meeting/KRScreenShareState.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingNetworkStats.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"

namespace kr {

/// What the host app hears from a `KRClient`. Every method has an empty body, so a host overrides
/// only what it needs. Every call runs on the library's main queue; all but the join failure and
/// the error carry a snapshot of the meeting taken at that moment. The client holds its delegates
/// weakly.
class KRClientDelegate {
public:
    virtual ~KRClientDelegate() = default;

    // Local user
    virtual void didLocalUserJoinedMeeting(const KRMeeting& /*meeting*/,
                                           const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didLocalUserMicStatusUpdated(const KRMeeting& /*meeting*/, bool /*isMuted*/) {}
    virtual void didLocalUserVideoStatusUpdated(const KRMeeting& /*meeting*/, bool /*isMuted*/) {}
    virtual void didLocalUserLeftMeeting(const KRMeeting& /*meeting*/,
                                         const KRUserLeftReason& /*reason*/) {}
    virtual void didLocalUserMovedToAudience(const KRMeeting& /*meeting*/,
                                             const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didLocalUserMovedToParticipant(const KRMeeting& /*meeting*/,
                                                const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didLocalUserHandRaiseStatusUpdated(const KRMeeting& /*meeting*/, bool /*isRaised*/) {}
    virtual void didLocalScreenShareStateChanged(const KRMeeting& /*meeting*/,
                                                 const KRScreenShareState& /*state*/) {}
    virtual void didLocalSpeakerVolumeChanges(const KRMeeting& /*meeting*/, int /*level*/,
                                              bool /*localUserSpeaking*/) {}
    virtual void didLocalAudioStateChangeFailed(const KRMeeting& /*meeting*/,
                                                KRAudioVideoErrorType /*error*/,
                                                const std::string& /*errorDesc*/) {}
    virtual void didLocalVideoStateChangeFailed(const KRMeeting& /*meeting*/,
                                                KRAudioVideoErrorType /*error*/,
                                                const std::string& /*errorDesc*/) {}
    virtual void didLocalUserFallBackToAudioOnlyMode(const KRMeeting& /*meeting*/, bool /*isFallback*/) {}
    virtual void didLocalParticipantConnectionChangedTo(const KRMeeting& /*meeting*/,
                                                        KRConnectionState /*state*/) {}

    // Remote users
    virtual void didRemoteUserJoinedMeeting(const KRMeeting& /*meeting*/,
                                            const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didRemoteUserLeftMeeting(const KRMeeting& /*meeting*/,
                                          const std::shared_ptr<KRMeetingUser>& /*user*/,
                                          const KRUserLeftReason& /*reason*/) {}
    virtual void didRemoteUserMicStatusUpdated(const KRMeeting& /*meeting*/,
                                               const std::shared_ptr<KRMeetingUser>& /*user*/,
                                               bool /*isMuted*/) {}
    virtual void didRemoteUserVideoStatusUpdated(const KRMeeting& /*meeting*/,
                                                 const std::shared_ptr<KRMeetingUser>& /*user*/,
                                                 bool /*isMuted*/) {}
    virtual void didUserMovedToParticipants(const KRMeeting& /*meeting*/,
                                            const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didUserMovedToAudience(const KRMeeting& /*meeting*/,
                                        const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didRemoteUserHandRaiseStatusUpdated(const KRMeeting& /*meeting*/,
                                                     const std::shared_ptr<KRMeetingUser>& /*user*/,
                                                     bool /*isRaised*/) {}
    virtual void didRemoteScreenShareStateChanged(const KRMeeting& /*meeting*/,
                                                  const KRScreenShareState& /*state*/) {}
    virtual void didRemoteUserFallBackToAudioOnlyMode(const KRMeeting& /*meeting*/, bool /*isFallback*/,
                                                      const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didCoHostRightsChanged(const KRMeeting& /*meeting*/,
                                        const std::shared_ptr<KRMeetingUser>& /*user*/,
                                        bool /*isCoHost*/) {}
    virtual void didRecieveReaction(const KRMeeting& /*meeting*/,
                                    const std::shared_ptr<KRMeetingUser>& /*user*/,
                                    const std::string& /*reactionsType*/) {}

    // Speakers and network
    virtual void didLoudestSpeakerUpdated(const KRMeeting& /*meeting*/,
                                          const std::shared_ptr<KRMeetingUser>& /*user*/) {}
    virtual void didDetectActiveSpeakers(const KRMeeting& /*meeting*/,
                                         const std::vector<std::shared_ptr<KRMeetingUser>>& /*users*/) {}
    virtual void didNetworkQualityUpdated(const KRMeeting& /*meeting*/, KRNetworkQuality /*quality*/) {}
    virtual void didMeetingNetworkStatsUpdated(const KRMeeting& /*meeting*/,
                                               const KRMeetingNetworkStats& /*stats*/) {}
    virtual void didAudioOutputRouteChanged(const KRMeeting& /*meeting*/, KRAudioRouteType /*route*/) {}

    // Meeting state
    virtual void didRecordingStarted(const KRMeeting& /*meeting*/,
                                     const std::shared_ptr<KRMeetingUser>& /*startedBy*/) {}
    virtual void didRecordingStopped(const KRMeeting& /*meeting*/,
                                     const std::shared_ptr<KRMeetingUser>& /*stoppedBy*/) {}
    virtual void didMeetingLocked(const KRMeeting& /*meeting*/,
                                  const std::shared_ptr<KRMeetingUser>& /*lockedBy*/) {}
    virtual void didMeetingUnLocked(const KRMeeting& /*meeting*/,
                                    const std::shared_ptr<KRMeetingUser>& /*unLockedBy*/) {}
    virtual void didWhiteboardStarted(const KRMeeting& /*meeting*/, const std::string& /*startedBy*/,
                                      const std::string& /*whiteboardUrl*/,
                                      const std::string& /*senderName*/) {}
    virtual void didWhiteboardStopped(const KRMeeting& /*meeting*/,
                                      const std::shared_ptr<KRMeetingUser>& /*stoppedBy*/) {}

    // Host actions
    virtual void didHostRequestToChangeAudioVideoState(const KRMeeting& /*meeting*/,
                                                       const std::shared_ptr<KRMeetingUser>& /*host*/,
                                                       AudioVideoState /*state*/) {}
    virtual void didUserDeclineToChangeAudioVideoState(const KRMeeting& /*meeting*/,
                                                       const std::shared_ptr<KRMeetingUser>& /*user*/,
                                                       AudioVideoState /*state*/) {}
    virtual void didHostEnableHardAudioMute(const KRMeeting& /*meeting*/,
                                            const std::shared_ptr<KRMeetingUser>& /*performer*/) {}
    virtual void didHostDisableHardAudioMute(const KRMeeting& /*meeting*/,
                                             const std::shared_ptr<KRMeetingUser>& /*performer*/) {}
    virtual void didHostEnableSoftAudioMute(const KRMeeting& /*meeting*/,
                                            const std::shared_ptr<KRMeetingUser>& /*performer*/) {}
    virtual void didHostLowerAllHands(const KRMeeting& /*meeting*/,
                                      const std::shared_ptr<KRMeetingUser>& /*performer*/) {}

    // Failures (no snapshot)
    virtual void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& /*error*/) {}
    virtual void didErrorOccured(const KRMeetingError& /*error*/) {}
};

}  // namespace kr
