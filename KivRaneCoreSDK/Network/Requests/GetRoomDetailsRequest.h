#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRRoomDetails.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Resolves a meeting id and PIN into the room's details (credentials, room id, owner, limits).
/// Body: "extension", "pin", "userId" (also when empty), "transferCall" (JSON false) and
/// "deviceType" "iOS".
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetRoomDetailsRequest : KRAPIRequest<KRRoomDetails> {
    GetRoomDetailsRequest(std::string_view meetingId, std::string_view meetingPin,
                          std::string_view userId);
};

}  // namespace kr
