#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/PostRoomConnectionRequest.h"

#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"

namespace kr {

PostRoomConnectionRequest::PostRoomConnectionRequest(
    std::string_view meetingID, std::string_view roomID, std::string_view meetingPIN,
    std::string_view historyID, std::string_view userUid, std::string_view userName,
    bool isAudioMuted, bool isVideoMuted, bool isSharingScreen, bool isHandRaised, bool isConnected,
    bool isPolling, bool isUserAudience)
    : KRAPIRequest(KRAPIPath::postRoomConnectionStatus(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["roomID"] = roomID;
    requestParameters["roomPin"] = meetingPIN;
    requestParameters["historyId"] = historyID;
    requestParameters["participantUri"] = userUid;
    requestParameters["participantId"] = userUid;
    requestParameters["participantName"] = userName;
    requestParameters["status"] = isConnected ? "connected" : "disconnected";
    requestParameters["deviceId"] = getDeviceId();
    requestParameters["deviceType"] = "ios";
    requestParameters["participantType"] = isUserAudience ? "audience" : "speaker";
    if (!isPolling) {
        requestParameters["micStatus"] = !isAudioMuted;
        requestParameters["cameraStatus"] = !isVideoMuted;
        requestParameters["isHandRaise"] = isHandRaised;
        requestParameters["isSharingScreen"] = isSharingScreen;
    }
}

}  // namespace kr
