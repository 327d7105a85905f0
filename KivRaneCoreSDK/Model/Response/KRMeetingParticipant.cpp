#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRMeetingParticipant, JsonDecodingError> KRMeetingParticipant::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRMeetingParticipant p;
    p.userId = r.lenient<std::string>("userId", {});
    p.participantUri = r.lenient<std::string>("participantUri", {});
    p.participantId = r.lenient<std::string>("participantId", {});
    p.participantName = r.lenient<std::string>("participantName", {});
    p.isMicOn = r.required<bool>("micStatus");
    p.isVideoOn = r.required<bool>("cameraStatus");
    p.isSharingScreen = r.lenient<bool>("isSharingScreen", false);
    p.isHandRaise = r.required<bool>("isHandRaise");
    p.participantJoinTime = r.lenient<std::string>("participantJoinTime", {});
    p.isHost = r.lenient<bool>("isHost", false);
    p.isCoHost = r.lenient<bool>("isCoHost", false);
    p.participantType =
        r.lenient<KRMeetingParticipantType>("participantType", KRMeetingParticipantType::audience);
    if (!r.ok()) {
        return Failure{*r.error()};
    }
    return p;
}

void KRMeetingParticipant::update(const KRMeetingParticipant& other) {
    userId = other.userId;
    participantUri = other.participantUri;
    participantId = other.participantId;
    participantName = other.participantName;
    isMicOn = other.isMicOn;
    isVideoOn = other.isVideoOn;
    participantJoinTime = other.participantJoinTime;
    isSharingScreen = other.isSharingScreen;
    isHandRaise = other.isHandRaise;
}

}  // namespace kr
