#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRStartRecording.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Asks the server to start the cloud recording of the meeting. Body: "historyId".
/// A plain value: build it, send it once through the network client, read its outcome.
struct StartRecordingRequest : KRAPIRequest<KRStartRecording> {
    explicit StartRecordingRequest(std::string_view historyId);
};

}  // namespace kr
