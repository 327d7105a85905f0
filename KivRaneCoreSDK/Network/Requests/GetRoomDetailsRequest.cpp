#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"

namespace kr {

GetRoomDetailsRequest::GetRoomDetailsRequest(std::string_view meetingId,
                                             std::string_view meetingPin, std::string_view userId)
    : KRAPIRequest(KRAPIPath::getRoomDetails(), KRHTTPMethod::post) {
    requestParameters["extension"] = meetingId;
    requestParameters["pin"] = meetingPin;
    requestParameters["userId"] = userId;
    requestParameters["transferCall"] = false;
    requestParameters["deviceType"] = "iOS";
}

}  // namespace kr
