#include "KivRaneCoreSDK/Network/Requests/StopScreenShareRequest.h"

namespace kr {

StopScreenShareRequest::StopScreenShareRequest(std::string_view meetingID, std::string_view userUid)
    : KRAPIRequest(KRAPIPath::shareScreen(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["participantUri"] = userUid;
    requestParameters["action"] = "stop";
}

}  // namespace kr
