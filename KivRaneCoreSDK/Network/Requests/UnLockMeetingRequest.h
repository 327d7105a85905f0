#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Unlocks the meeting (the path alone says which). Body: "roomID", "historyId".
/// A plain value: build it, send it once through the network client, read its outcome.
struct UnLockMeetingRequest : KRAPIRequest<KRAPIStatus> {
    UnLockMeetingRequest(std::string_view roomID, std::string_view historyId);
};

}  // namespace kr
