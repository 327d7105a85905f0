#include "KivRaneCoreSDK/Network/Requests/JoinCallRequest.h"

namespace kr {

JoinCallRequest::JoinCallRequest(std::string_view meetingID, std::string_view roomID,
                                 std::string_view meetingPIN, std::string_view guestName,
                                 std::string_view ownerName, std::string_view ownerID,
                                 std::string_view meetingTitle, std::string_view authToken,
                                 std::string_view machineIp)
    : KRAPIRequest(KRAPIPath::joinCall(), KRHTTPMethod::post) {
    boost::json::object data;
    data["kivraneId"] = meetingID;
    data["room_id"] = roomID;
    data["roomPIN"] = meetingPIN;
    data["guest_name"] = guestName;
    data["owner_name"] = ownerName;
    data["owner_id"] = ownerID;
    data["title"] = meetingTitle;
    data["group_id"] = "";
    data["participantEndPointType"] = "IOS";
    data["participantEndPointName"] = "iPhone";
    data["is_disconnect"] = "false";  // the text, not a JSON boolean
    data["token"] = authToken;
    data["machineIp"] = machineIp;
    requestParameters["data"] = std::move(data);
}

}  // namespace kr
