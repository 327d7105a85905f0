#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Asks the server to stop the cloud recording of the meeting. Body: "historyId".
/// A plain value: build it, send it once through the network client, read its outcome.
struct StopRecordingRequest : KRAPIRequest<KRAPIStatus> {
    explicit StopRecordingRequest(std::string_view historyId);
};

}  // namespace kr
