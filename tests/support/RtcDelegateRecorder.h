#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"

namespace kr::test {

/// Writes every report of the default engine wrapper down as a short text, e.g.
/// "remoteVideo(7, audio muted, video live)". Hooks run inside the report, so a test can act
/// from within a callback the way the client does.
class RtcDelegateRecorder : public KRRtcManagerDelegate {
public:
    std::vector<std::string> events;
    std::function<void(std::uint64_t uid)> onRemoteAdded;
    std::function<void()> onLocalLeft;

    std::vector<std::string> take() { return std::exchange(events, {}); }

    /// "uid:audio/video" with m for muted and l for live, e.g. "7:ml".
    static std::string flags(const KRRtcParticipant& p);

    void didLocalParticipantJoinedChannel() override;
    void didLocalParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) override;
    void didLocalParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) override;
    void didLocalParticipantLeaveChannel() override;
    void didRemoteStreamAddedToChannel(std::uint64_t streamUid) override;
    void didRemoteStreamRemovedFromChannel(std::uint64_t streamUid,
                                           const KRUserLeftReason& reason) override;
    void didRemoteParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) override;
    void didRemoteParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& rtcParticipant) override;
    void didRemoteParticipantMovedToAudience(std::uint64_t streamUid) override;
    void didNetworkQualityChange(KRNetworkQuality quality) override;
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& packetLoss,
                                const KRRtcTransmissionRateData& transmissionRate,
                                const KRRtcBandwidthData& bandwidth) override;
    void didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) override;
    void didRtcParticipantsDataUpdated() override;
    void didLocalSpeakerVolumeLevelChanges(std::int64_t newLevel, bool localUserSpeaking) override;
    void didAudioRouteChanged(KRAudioRouteType newRoute) override;
    void didCurrentUserClientRoleChanged(bool isAudience) override;
    void didDetectTopActiveSpeakers(
        const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) override;
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType errorType,
                                        const std::string& errorDesc) override;
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType errorType,
                                        const std::string& errorDesc) override;
    void didLocalUserFallBackToAudioOnlyMode(bool isFallbackOrRecover) override;
    void didRemoteUserFallBackToAudioOnlyMode(
        bool isFallbackOrRecover, const std::shared_ptr<KRRtcParticipant>& rtcParticipant) override;
    void didLocalParticipantConnectionChangedTo(KRConnectionState state) override;
};

/// A logger that keeps its records instead of sending them.
class RecordingLogger : public KivRaneRealTimeLogger2 {
public:
    RecordingLogger() : KivRaneRealTimeLogger2("KivRaneRTC") {}
    std::vector<std::string> lines;
    std::vector<std::string> warnings;  // also in `lines`
    void debug(const std::string& message) override { lines.push_back(message); }
    void info(const std::string& message) override { lines.push_back(message); }
    void warn(const std::string& message) override {
        lines.push_back(message);
        warnings.push_back(message);
    }
    void error(const std::string& message) override { lines.push_back(message); }
};

}  // namespace kr::test
