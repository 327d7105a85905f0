#include "KivRaneCoreSDK/Network/Requests/MuteParticipantAudioRequest.h"

namespace kr {

MuteParticipantAudioRequest::MuteParticipantAudioRequest(std::string_view meetingId,
                                                         std::string_view roomID,
                                                         std::string_view participantId,
                                                         bool isMuted)
    : KRAPIRequest(KRAPIPath::muteUnmuteLocalAudio(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomID;
    requestParameters["participantId"] = participantId;
    requestParameters["audio"] = !isMuted;
}

}  // namespace kr
