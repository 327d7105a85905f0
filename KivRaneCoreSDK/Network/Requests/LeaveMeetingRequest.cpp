#include "KivRaneCoreSDK/Network/Requests/LeaveMeetingRequest.h"

namespace kr {

LeaveMeetingRequest::LeaveMeetingRequest(std::string_view roomID, std::string_view historyId)
    : KRAPIRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post) {
    requestParameters["autoDisconnect"] = false;
    requestParameters["roomID"] = roomID;
    requestParameters["historyId"] = historyId;
}

}  // namespace kr
