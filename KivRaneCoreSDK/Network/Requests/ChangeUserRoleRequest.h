#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Moves one participant to the audience or makes it a speaker. Body: "kivraneId", "roomID",
/// "roomPin", "participantIds" (the one id) and "participantType" ("audience" or "speaker";
/// left out for a host role).
/// A plain value: build it, send it once through the network client, read its outcome.
struct ChangeUserRoleRequest : KRAPIRequest<KRAPIStatus> {
    ChangeUserRoleRequest(std::string_view meetingID, std::string_view roomId,
                          std::string_view roomPin, std::string_view participantId,
                          const KRUserRole& newRole);
};

}  // namespace kr
