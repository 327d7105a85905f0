#include "testing/LocalMeetingService/MeetingParticipantState.h"

namespace kr::test {

boost::json::object MeetingParticipantState::toJson() const {
    boost::json::object o;
    o["userId"] = userId;
    o["participantUri"] = participantUri;
    o["participantId"] = participantId;
    o["participantName"] = participantName;
    o["micStatus"] = isMicOn;
    o["cameraStatus"] = isCameraOn;
    o["participantJoinTime"] = participantJoinTime;
    o["isSharingScreen"] = isSharingScreen;
    o["isHandRaise"] = isHandRaised;
    o["isHost"] = isHost;
    o["isCoHost"] = isCoHost;
    o["participantType"] = participantType;
    return o;
}

}  // namespace kr::test
