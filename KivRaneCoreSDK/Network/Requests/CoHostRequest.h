#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Grants or withdraws one participant's co-host rights. Body: "kivraneId", "roomID", "roomPin"
/// and either "coHostsAdded" or "coHostsRemoved" holding the one id (even when it is empty).
/// A plain value: build it, send it once through the network client, read its outcome.
struct CoHostRequest : KRAPIRequest<KRAPIStatus> {
    CoHostRequest(std::string_view meetingId, std::string_view roomId, std::string_view roomPin,
                  std::string_view participantId, bool makeCoHost);
};

}  // namespace kr
