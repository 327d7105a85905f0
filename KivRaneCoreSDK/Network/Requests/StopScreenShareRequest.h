#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Tells the server that the local user stops sharing the screen. Body: "kivraneId",
/// "participantUri" and "action" "stop".
/// A plain value: build it, send it once through the network client, read its outcome.
struct StopScreenShareRequest : KRAPIRequest<KRAPISuccess> {
    StopScreenShareRequest(std::string_view meetingID, std::string_view userUid);
};

}  // namespace kr
