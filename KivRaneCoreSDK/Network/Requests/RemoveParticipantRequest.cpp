#include "KivRaneCoreSDK/Network/Requests/RemoveParticipantRequest.h"

namespace kr {

RemoveParticipantRequest::RemoveParticipantRequest(std::string_view meetingID,
                                                   std::string_view participantId)
    : KRAPIRequest(KRAPIPath::removeParticipant(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["participantID"] = participantId;
}

}  // namespace kr
