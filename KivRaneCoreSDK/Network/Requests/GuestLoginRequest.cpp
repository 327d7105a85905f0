#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"

namespace kr {

GuestLoginRequest::GuestLoginRequest(std::string_view meetingId, std::string_view roomID,
                                     std::string_view meetingPin, std::string_view name,
                                     std::string_view hostToken)
    : KRAPIRequest(KRAPIPath::guestLogin(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomID;
    requestParameters["roomPin"] = meetingPin;
    requestParameters["name"] = name;
    if (!hostToken.empty()) {
        requestParameters["hostToken"] = hostToken;
    }
}

}  // namespace kr
