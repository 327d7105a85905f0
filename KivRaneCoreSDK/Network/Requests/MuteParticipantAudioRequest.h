#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Reports one participant's microphone as on or off. Body: "kivraneId", "roomID",
/// "participantId" and "audio", a boolean that is true when it is on (not `isMuted`).
/// A plain value: build it, send it once through the network client, read its outcome.
struct MuteParticipantAudioRequest : KRAPIRequest<KRAPISuccess> {
    MuteParticipantAudioRequest(std::string_view meetingId, std::string_view roomID,
                                std::string_view participantId, bool isMuted);
};

}  // namespace kr
