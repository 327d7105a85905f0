#include "KivRaneCoreSDK/Network/Requests/MuteParticipantVideoRequest.h"

namespace kr {

MuteParticipantVideoRequest::MuteParticipantVideoRequest(std::string_view meetingId,
                                                         std::string_view roomID,
                                                         std::string_view participantId,
                                                         bool isMuted)
    : KRAPIRequest(KRAPIPath::muteUnmuteLocalVideo(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomID;
    requestParameters["participantId"] = participantId;
    requestParameters["video"] = !isMuted;
}

}  // namespace kr
