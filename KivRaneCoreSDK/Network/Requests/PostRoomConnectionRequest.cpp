#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {

PostRoomConnectionRequest::PostRoomConnectionRequest(const Parameters& p)
    : KRAPIRequest(KRAPIPath::postRoomConnectionStatus(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = p.meetingID;
    requestParameters["roomID"] = p.roomID;
    requestParameters["roomPin"] = p.meetingPIN;
    requestParameters["historyId"] = p.historyID;
    requestParameters["participantUri"] = p.userUid;
    requestParameters["participantId"] = p.userUid;
    requestParameters["participantName"] = p.userName;
    requestParameters["status"] = p.isConnected ? "connected" : "disconnected";
    requestParameters["deviceId"] = p.deviceId;
    requestParameters["deviceType"] = "ios";
    requestParameters["participantType"] = rawValue(
        p.isUserAudience ? KRMeetingParticipantType::audience : KRMeetingParticipantType::speaker);
    if (!p.isPolling) {
        requestParameters["micStatus"] = !p.isAudioMuted;
        requestParameters["cameraStatus"] = !p.isVideoMuted;
        requestParameters["isHandRaise"] = p.isHandRaised;
        requestParameters["isSharingScreen"] = p.isSharingScreen;
    }
}

}  // namespace kr
