#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcBandwidthData.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcPacketLossData.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcParticipant.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcTransmissionRateData.h"

namespace kr {

/// Receiver of everything the default engine wrapper (`KRRtcManger`) learns about the media
/// channel. Every method must be implemented. Participants handed over come from the wrapper's
/// list, with their flags already updated.
///
/// Threading: called on the main queue, synchronously from the engine callback, the wrapper
/// call or the wrapper's own timer that caused the report. The wrapper holds its delegate weakly
/// and may be called back (or released) from inside any of these methods.
class KRRtcManagerDelegate {
public:
    virtual ~KRRtcManagerDelegate() = default;

    virtual void didLocalParticipantJoinedChannel() = 0;
    virtual void didLocalParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) = 0;
    virtual void didLocalParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) = 0;
    virtual void didLocalParticipantLeaveChannel() = 0;
    virtual void didRemoteStreamAddedToChannel(std::uint64_t streamUid) = 0;
    virtual void didRemoteStreamRemovedFromChannel(std::uint64_t streamUid,
                                                   const KRUserLeftReason& reason) = 0;
    virtual void didRemoteParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) = 0;
    virtual void didRemoteParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) = 0;
    virtual void didRemoteParticipantMovedToAudience(std::uint64_t streamUid) = 0;
    virtual void didNetworkQualityChange(KRNetworkQuality quality) = 0;
    virtual void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& packetLoss,
                                        const KRRtcTransmissionRateData& transmissionRate,
                                        const KRRtcBandwidthData& bandwidth) = 0;
    /// `speaker` is null when nobody is loud enough.
    virtual void didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) = 0;
    /// Kept for engines that report list-wide changes; KRRtcManger does not call it.
    virtual void didRtcParticipantsDataUpdated() = 0;
    virtual void didLocalSpeakerVolumeLevelChanges(std::int64_t newLevel,
                                                   bool localUserSpeaking) = 0;
    virtual void didAudioRouteChanged(KRAudioRouteType newRoute) = 0;
    virtual void didCurrentUserClientRoleChanged(bool isAudience) = 0;
    virtual void didDetectTopActiveSpeakers(
        const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) = 0;
    /// Made for every local microphone state report; `ok` means no failure.
    virtual void didLocalAudioStateChangeFailed(KRAudioVideoErrorType errorType,
                                                const std::string& errorDesc) = 0;
    /// Made for every local camera state report; `ok` means no failure.
    virtual void didLocalVideoStateChangeFailed(KRAudioVideoErrorType errorType,
                                                const std::string& errorDesc) = 0;
    virtual void didLocalUserFallBackToAudioOnlyMode(bool isFallbackOrRecover) = 0;
    virtual void didRemoteUserFallBackToAudioOnlyMode(
        bool isFallbackOrRecover, const std::shared_ptr<KRRtcParticipant>& rtcParticipant) = 0;
    virtual void didLocalParticipantConnectionChangedTo(KRConnectionState state) = 0;
};

}  // namespace kr
