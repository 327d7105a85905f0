#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Media/RtcRemoteStreamType.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcBandwidthData.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcPacketLossData.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcTransmissionRateData.h"
#include "KivRaneCoreSDK/Model/Media/RtcAuxiliaryTrack.h"
#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

namespace kr {

/// Receiver of what an engine of the room engine backend (see RtcManagerProtocol) reports about
/// its media channel; the facade on that backend. Every method has a default, so a receiver
/// overrides only what it needs. Peers handed over are the engine's own records (shared, already
/// updated).
///
/// Four reports hand over a completion the engine waits for before it finishes its own work
/// (the local join, the local leave, a remote join, and the question about an unknown stream).
/// Their defaults call it at once, so an engine is never left waiting on a receiver that does
/// not care; a receiver that overrides one of them must call the completion exactly once, and
/// may do so later, on the main queue.
///
/// Threading: called on the library's main queue. Engines hold their receiver weakly.
class RtcManagerDelegate {
public:
    using Completion = std::function<void()>;
    using StreamTypeCompletion = std::function<void(RtcRemoteStreamType)>;
    using Peer = std::shared_ptr<RtcPeerMetaData>;

    virtual ~RtcManagerDelegate() = default;

    /// The local participant is in the media channel; `peer` is its record.
    virtual void didLocalParticipantJoinChannel(const Peer& /*peer*/, Completion completion) {
        finish(completion);
    }
    virtual void didLocalParticipantAudioStatusUpdated(const Peer& /*peer*/, bool /*isMuted*/) {}
    virtual void didLocalParticipantVideoStatusUpdated(const Peer& /*peer*/, bool /*isMuted*/) {}
    /// The local participant has left the media channel, for `reason`.
    virtual void didLocalParticipantLeaveChannel(const KRUserLeftReason& /*reason*/,
                                                 Completion completion) {
        finish(completion);
    }
    virtual void didRemoteParticipantJoinChannel(const Peer& /*peer*/, Completion completion) {
        finish(completion);
    }
    virtual void didRemoteParticipantAudioStatusUpdated(const Peer& /*peer*/, bool /*isMuted*/) {}
    virtual void didRemoteParticipantVideoStatusUpdated(const Peer& /*peer*/, bool /*isMuted*/) {}
    virtual void didRemoteParticipantLeaveChannel(const std::string& /*peerId*/,
                                                  const KRUserLeftReason& /*reason*/) {}
    /// The loudest peer, or null when nobody speaks.
    virtual void didDetectLoudestParticipant(const Peer& /*peer*/) {}
    virtual void didLocalSpeakerVolumeLevelChanges(std::uint64_t /*level*/,
                                                   bool /*isLocalUserSpeaking*/) {}
    /// `isAudience`: the local participant now only listens.
    virtual void didCurrentParticipantRoleChanged(bool /*isAudience*/) {}
    virtual void didAudioRouteChanged(KRAudioRouteType /*route*/) {}
    virtual void didDetectTopActiveSpeakersPeers(const std::vector<Peer>& /*peers*/) {}
    virtual void didLocalAudioStateChangeFailed(KRAudioVideoErrorType /*errorType*/,
                                                const std::string& /*errorDesc*/) {}
    virtual void didLocalVideoStateChangeFailed(KRAudioVideoErrorType /*errorType*/,
                                                const std::string& /*errorDesc*/) {}
    /// True: the published stream fell back to audio only; false: video is back.
    virtual void didLocalParticicpantFallBacktoAudioOnlyMode(bool /*isFallback*/) {}
    virtual void didRemoteParticipantFallBackToAudioOnlyMode(bool /*isFallback*/,
                                                             const Peer& /*peer*/) {}
    virtual void didConnectionStateChanged(KRConnectionState /*state*/) {}
    virtual void didNetworkQualityChanged(KRNetworkQuality /*quality*/) {}
    virtual void didRecieveNetworkStats(std::int64_t /*latency*/,
                                        const KRRtcPacketLossData& /*packetLoss*/,
                                        const KRRtcTransmissionRateData& /*transmissionRate*/,
                                        const KRRtcBandwidthData& /*bandwidth*/) {}
    /// `owner` started sharing its screen as the separate stream `track`.
    virtual void didAuxiliaryVideoTrackAdded(const Peer& /*owner*/,
                                             const std::shared_ptr<RtcAuxiliaryTrack>& /*track*/) {}
    virtual void didAuxiliaryVideoTrackRemoved(const Peer& /*owner*/) {}
    /// Whether the new stream `streamId` is a participant or a screen-share track. The default
    /// answers that it is the participant of that id.
    virtual void didRequestToGetStreamSourceType(const std::string& streamId,
                                                 StreamTypeCompletion completion) {
        if (completion) {
            completion(RtcRemoteStreamType::user(streamId));
        }
    }

protected:
    RtcManagerDelegate() = default;
    RtcManagerDelegate(const RtcManagerDelegate&) = default;
    RtcManagerDelegate& operator=(const RtcManagerDelegate&) = default;

private:
    static void finish(const Completion& completion) {
        if (completion) {
            completion();
        }
    }
};

}  // namespace kr
