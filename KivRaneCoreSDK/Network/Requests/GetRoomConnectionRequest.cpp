#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"

namespace kr {

GetRoomConnectionRequest::GetRoomConnectionRequest(std::string_view meetingID,
                                                   std::string_view roomID,
                                                   std::string_view meetingPin)
    : KRAPIRequest(KRAPIPath::getRoomConnectionStatus(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["roomID"] = roomID;
    requestParameters["roomPin"] = meetingPin;
}

}  // namespace kr
