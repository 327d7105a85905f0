#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// The host mutes the whole room's audio (soft or hard) or lifts a hard mute. Body: "kivraneId",
/// "roomID", "hard" (`isHardMute` as is) and "audio" (not `isMuted`).
/// A plain value: build it, send it once through the network client, read its outcome.
struct MuteAllParticipantsAudioRequest : KRAPIRequest<KRAPISuccess> {
    MuteAllParticipantsAudioRequest(std::string_view meetingId, std::string_view roomID,
                                    bool isHardMute, bool isMuted);
};

}  // namespace kr
