#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Fetches the server's view of the whole room (participants, mute, share and recording state).
/// Sent as a POST with the body "kivraneId", "roomID", "roomPin".
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetRoomConnectionRequest : KRAPIRequest<KRRoomConnectionStatus> {
    GetRoomConnectionRequest(std::string_view meetingID, std::string_view roomID,
                             std::string_view meetingPin);
};

}  // namespace kr
