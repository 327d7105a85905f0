#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Ends the local user's whiteboard share, on the screen-share endpoint. Body: "action" "stop",
/// "participantUri", "kivraneId".
/// A plain value: build it, send it once through the network client, read its outcome.
struct StopWhiteboardRequest : KRAPIRequest<KRAPIStatus> {
    StopWhiteboardRequest(std::string_view kivraneId, std::string_view participantUri);
};

}  // namespace kr
