#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Tells the server that the local user leaves the meeting. Body: "autoDisconnect" (always
/// false), "roomID", "historyId".
/// A plain value: build it, send it once through the network client, read its outcome.
struct LeaveMeetingRequest : KRAPIRequest<KRAPIStatus> {
    LeaveMeetingRequest(std::string_view roomID, std::string_view historyId);
};

}  // namespace kr
