#pragma once

#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Model/Meeting/ParticipantUpdateType.h"

namespace kr {

class RtcPeerMetaData;

/// One participant on the room engine backend: the server's record merged with the media
/// engine's peer (the engine wins for the live media flags, the server for everything else).
/// Plain value.
struct Participant {
    std::string id;
    std::string userId;
    std::string displayName;
    bool isAudioMuted = false;
    bool isVideoMuted = false;
    bool isHandRaised = false;
    bool isLoudestVolume = false;
    bool isHost = false;
    bool isCoHost = false;
    bool isSharingScreen = false;
    bool isSharingWhiteBoard = false;
    bool isAudience = false;
    std::string joinTime;

    /// Merges a server record and an engine peer (only read; its flags through its getters).
    Participant(const KRMeetingParticipant& metaData, const RtcPeerMetaData& rtcData);

    /// The kinds of change since `oldData`, listed in `ParticipantUpdateType` declaration order
    /// so callers can rely on it; identity fields, the whiteboard flag and the join time are
    /// ignored.
    std::vector<ParticipantUpdateType> getDataUpdateType(const Participant& oldData) const;

    /// All thirteen fields equal.
    friend bool operator==(const Participant&, const Participant&) = default;
};

}  // namespace kr
