#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Removes one participant from the meeting. Body: "kivraneId" and "participantID" (two
/// capitals, unlike the other requests).
/// A plain value: build it, send it once through the network client, read its outcome.
struct RemoveParticipantRequest : KRAPIRequest<KRAPIStatus> {
    RemoveParticipantRequest(std::string_view meetingID, std::string_view participantId);
};

}  // namespace kr
