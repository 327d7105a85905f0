#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Reports the local user's own state in the room. Body: the string members "kivraneId",
/// "roomID", "roomPin", "historyId", "participantUri" and "participantId" (both `userUid`),
/// "participantName", "status" ("connected"/"disconnected"), "deviceId" (this installation's id,
/// read while the request is built), "deviceType" "ios" and "participantType"
/// ("audience"/"speaker"); unless polling, also the booleans "micStatus" and "cameraStatus"
/// (true when on), "isHandRaise" and "isSharingScreen".
/// A plain value: build it, send it once through the network client, read its outcome.
struct PostRoomConnectionRequest : KRAPIRequest<KRAPISuccess> {
    PostRoomConnectionRequest(std::string_view meetingID, std::string_view roomID,
                              std::string_view meetingPIN, std::string_view historyID,
                              std::string_view userUid, std::string_view userName,
                              bool isAudioMuted, bool isVideoMuted, bool isSharingScreen,
                              bool isHandRaised, bool isConnected, bool isPolling,
                              bool isUserAudience);
};

}  // namespace kr
