#include "support/RtcDelegateRecorder.h"

namespace kr::test {

namespace {

std::string reasonText(const KRUserLeftReason& reason) {
    switch (reason.kind()) {
        case KRUserLeftReason::Kind::removedFromMeeting:
            return "removed by " + reason.byHost();
        case KRUserLeftReason::Kind::leaveMeeting:
            return "leaveMeeting";
        case KRUserLeftReason::Kind::networkDropped:
            return "networkDropped";
        case KRUserLeftReason::Kind::becomeAudience:
            return "becomeAudience";
        case KRUserLeftReason::Kind::none:
            return "none";
    }
    return "?";
}

}  // namespace

std::string RtcDelegateRecorder::flags(const KRRtcParticipant& p) {
    return std::to_string(p.uid()) + ":" + (p.isAudioMuted() ? "m" : "l") +
           (p.isVideoMuted() ? "m" : "l");
}

void RtcDelegateRecorder::didLocalParticipantJoinedChannel() {
    events.push_back("localJoined");
}
void RtcDelegateRecorder::didLocalParticipantVideoStatusUpdated(
    const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back("localVideo(" + flags(*p) + ")");
}
void RtcDelegateRecorder::didLocalParticipantAudioStatusUpdated(
    const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back("localAudio(" + flags(*p) + ")");
}
void RtcDelegateRecorder::didLocalParticipantLeaveChannel() {
    events.push_back("localLeft");
    if (onLocalLeft) {
        onLocalLeft();
    }
}
void RtcDelegateRecorder::didRemoteStreamAddedToChannel(std::uint64_t uid) {
    events.push_back("remoteAdded(" + std::to_string(uid) + ")");
    if (onRemoteAdded) {
        onRemoteAdded(uid);
    }
}
void RtcDelegateRecorder::didRemoteStreamRemovedFromChannel(std::uint64_t uid,
                                                            const KRUserLeftReason& reason) {
    events.push_back("remoteRemoved(" + std::to_string(uid) + ", " + reasonText(reason) + ")");
}
void RtcDelegateRecorder::didRemoteParticipantVideoStatusUpdated(
    const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back("remoteVideo(" + flags(*p) + ")");
}
void RtcDelegateRecorder::didRemoteParticipantAudioStatusUpdated(
    const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back("remoteAudio(" + flags(*p) + ")");
}
void RtcDelegateRecorder::didRemoteParticipantMovedToAudience(std::uint64_t uid) {
    events.push_back("movedToAudience(" + std::to_string(uid) + ")");
}
void RtcDelegateRecorder::didNetworkQualityChange(KRNetworkQuality quality) {
    events.push_back("quality(" + std::to_string(rawValue(quality)) + ")");
}
void RtcDelegateRecorder::didRecieveNetworkStats(std::int64_t latency,
                                                 const KRRtcPacketLossData& loss,
                                                 const KRRtcTransmissionRateData& rate,
                                                 const KRRtcBandwidthData& bandwidth) {
    events.push_back("stats(" + std::to_string(latency) + ", " + std::to_string(loss.uplinkLoss) +
                     "/" + std::to_string(loss.downlinkLoss) + ", " +
                     std::to_string(rate.uplinkRate) + "/" + std::to_string(rate.downlinkRate) +
                     ", " + std::to_string(bandwidth.totalSent) + "/" +
                     std::to_string(bandwidth.totalRecieved) + ")");
}
void RtcDelegateRecorder::didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back("loudest(" + (p ? std::to_string(p->uid()) : std::string("none")) + ")");
}
void RtcDelegateRecorder::didRtcParticipantsDataUpdated() {
    events.push_back("participantsUpdated");
}
void RtcDelegateRecorder::didLocalSpeakerVolumeLevelChanges(std::int64_t level, bool speaking) {
    events.push_back("localLevel(" + std::to_string(level) + ", " +
                     (speaking ? "speaking" : "quiet") + ")");
}
void RtcDelegateRecorder::didAudioRouteChanged(KRAudioRouteType route) {
    events.push_back("route(" + description(route) + ")");
}
void RtcDelegateRecorder::didCurrentUserClientRoleChanged(bool isAudience) {
    events.push_back(std::string("roleChanged(") + (isAudience ? "audience" : "broadcaster") + ")");
}
void RtcDelegateRecorder::didDetectTopActiveSpeakers(
    const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) {
    std::string list;
    for (const auto& s : speakers) {
        list += (list.empty() ? "" : " ") + std::to_string(s->uid());
    }
    events.push_back("topSpeakers(" + list + ")");
}
void RtcDelegateRecorder::didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                                         const std::string& text) {
    events.push_back("audioDevice(" + std::to_string(rawValue(type)) + ", " + text + ")");
}
void RtcDelegateRecorder::didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                                         const std::string& text) {
    events.push_back("videoDevice(" + std::to_string(rawValue(type)) + ", " + text + ")");
}
void RtcDelegateRecorder::didLocalUserFallBackToAudioOnlyMode(bool fallback) {
    events.push_back(std::string("localFallback(") + (fallback ? "true" : "false") + ")");
}
void RtcDelegateRecorder::didRemoteUserFallBackToAudioOnlyMode(
    bool fallback, const std::shared_ptr<KRRtcParticipant>& p) {
    events.push_back(std::string("remoteFallback(") + (fallback ? "true" : "false") + ", " +
                     std::to_string(p->uid()) + ")");
}
void RtcDelegateRecorder::didLocalParticipantConnectionChangedTo(KRConnectionState state) {
    events.push_back("connection(" + std::to_string(rawValue(state)) + ")");
}

}  // namespace kr::test
