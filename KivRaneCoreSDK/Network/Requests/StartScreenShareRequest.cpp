#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"

namespace kr {

StartScreenShareRequest::StartScreenShareRequest(std::string_view meetingID,
                                                 std::string_view userUid)
    : KRAPIRequest(KRAPIPath::shareScreen(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["participantUri"] = userUid;
    requestParameters["action"] = "start";
}

}  // namespace kr
