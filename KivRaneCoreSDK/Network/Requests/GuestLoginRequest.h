#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRGuestLogin.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Logs a guest into a meeting under a display name. Body: "kivraneId", "roomID", "roomPin",
/// "name"; an empty host token is left out of the body altogether.
/// A plain value: build it, send it once through the network client, read its outcome.
struct GuestLoginRequest : KRAPIRequest<KRGuestLogin> {
    GuestLoginRequest(std::string_view meetingId, std::string_view roomID,
                      std::string_view meetingPin, std::string_view name,
                      std::string_view hostToken);
};

}  // namespace kr
