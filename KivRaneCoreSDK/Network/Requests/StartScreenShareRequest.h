#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRStartShareScreen.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Tells the server that the local user starts sharing the screen. Body: "kivraneId",
/// "participantUri" and "action" "start".
/// A plain value: build it, send it once through the network client, read its outcome.
struct StartScreenShareRequest : KRAPIRequest<KRStartShareScreen> {
    StartScreenShareRequest(std::string_view meetingID, std::string_view userUid);
};

}  // namespace kr
