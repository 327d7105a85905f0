#pragma once

#include <string>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Reports the local user's own state in the room. Body: the string members "kivraneId",
/// "roomID", "roomPin", "historyId", "participantUri" and "participantId" (both `userUid`),
/// "participantName", "status" ("connected"/"disconnected"), "deviceId", "deviceType" "ios" and
/// "participantType" ("audience"/"speaker"); unless polling, also the booleans "micStatus" and
/// "cameraStatus" (true when on), "isHandRaise" and "isSharingScreen".
/// A plain value: build it, send it once through the network client, read its outcome.
struct PostRoomConnectionRequest : KRAPIRequest<KRAPISuccess> {
    /// Named so that call sites read as what they report, e.g.
    /// `{.meetingID = id, ..., .isConnected = true, .deviceId = client.deviceId()}`.
    struct Parameters {
        std::string meetingID{};
        std::string roomID{};
        std::string meetingPIN{};
        std::string historyID{};
        std::string userUid{};
        std::string userName{};
        bool isAudioMuted = false;
        bool isVideoMuted = false;
        bool isSharingScreen = false;
        bool isHandRaised = false;
        bool isConnected = false;
        bool isPolling = false;
        bool isUserAudience = false;
        std::string deviceId{};  ///< this installation's id, as the network client holds it
    };

    explicit PostRoomConnectionRequest(const Parameters& p);
};

}  // namespace kr
