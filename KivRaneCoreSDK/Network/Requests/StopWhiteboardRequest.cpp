#include "KivRaneCoreSDK/Network/Requests/StopWhiteboardRequest.h"

namespace kr {

StopWhiteboardRequest::StopWhiteboardRequest(std::string_view kivraneId,
                                             std::string_view participantUri)
    : KRAPIRequest(KRAPIPath::shareScreen(), KRHTTPMethod::post) {
    requestParameters["action"] = "stop";
    requestParameters["participantUri"] = participantUri;
    requestParameters["kivraneId"] = kivraneId;
}

}  // namespace kr
