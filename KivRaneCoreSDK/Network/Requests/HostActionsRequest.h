#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// A batch of host actions: lower every hand, lower one hand, grant or withdraw co-host rights.
/// Body: "kivraneId", "roomID", "roomPin", "allHandsDown" and the three id arrays
/// "handsDownParticipantIds", "coHostsAdded", "coHostsRemoved" (one element each when its id
/// is not empty, otherwise empty; never left out).
/// A plain value: build it, send it once through the network client, read its outcome.
struct HostActionsRequest : KRAPIRequest<KRAPISuccess> {
    HostActionsRequest(std::string_view meetingId, std::string_view roomID,
                       std::string_view meetingPin, bool isAllHandsDown = false,
                       std::string_view handsDownParticipantId = {},
                       std::string_view addedCoHostId = {}, std::string_view removedCoHostId = {});
};

}  // namespace kr
