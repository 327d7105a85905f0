#include "KivRaneCoreSDK/Model/Meeting/Participant.h"

#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

namespace kr {

Participant::Participant(const KRMeetingParticipant& metaData, const RtcPeerMetaData& rtcData)
    : id(rtcData.id().empty() ? metaData.participantId : rtcData.id()),
      userId(metaData.userId),
      displayName(metaData.participantName),
      isAudioMuted(rtcData.isAudioMuted()),
      isVideoMuted(rtcData.isVideoMuted()),
      isHandRaised(metaData.isHandRaise),
      isLoudestVolume(rtcData.isLoudest()),
      isHost(metaData.isHost),
      isCoHost(metaData.isCoHost),
      isSharingScreen(metaData.isSharingScreen),
      isSharingWhiteBoard(false),
      isAudience(metaData.participantType == KRMeetingParticipantType::audience),
      joinTime(metaData.participantJoinTime) {}

std::vector<ParticipantUpdateType> Participant::getDataUpdateType(
    const Participant& oldData) const {
    std::vector<ParticipantUpdateType> changes;
    const auto check = [&changes](bool differs, ParticipantUpdateType type) {
        if (differs) {
            changes.push_back(type);
        }
    };
    check(isAudioMuted != oldData.isAudioMuted, ParticipantUpdateType::audio);
    check(isVideoMuted != oldData.isVideoMuted, ParticipantUpdateType::video);
    check(isLoudestVolume != oldData.isLoudestVolume, ParticipantUpdateType::loudestVolume);
    check(displayName != oldData.displayName, ParticipantUpdateType::name);
    check(isHandRaised != oldData.isHandRaised, ParticipantUpdateType::handRaise);
    check(isCoHost != oldData.isCoHost, ParticipantUpdateType::coHostRight);
    check(isHost != oldData.isHost, ParticipantUpdateType::hostRight);
    check(isSharingScreen != oldData.isSharingScreen, ParticipantUpdateType::screenShare);
    check(isAudience != oldData.isAudience, ParticipantUpdateType::role);
    return changes;
}

}  // namespace kr
