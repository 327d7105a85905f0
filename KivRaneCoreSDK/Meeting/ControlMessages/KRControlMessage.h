#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"

namespace kr {

/// The control messages the client sends to the others in the meeting, one case per kind.
enum class KRControlMessage {
    handRaised,
    handLowered,
    hardMuteEnabled,
    hardMuteDisabled,
    softMuteEnabled,
    lowerAllHands,
    requestToStartAudio,
    stopParticipantAudio,
    requestToStartVideo,
    stopParticipantVideo,
    micDecline,
    videoDecline,
    removeParticipant,
    downgradeToAudience,
    upgradeToParticipant,
    recordingStarted,
    recordingStopped,
    lockMeeting,
    unLockMeeting,
    makeCoHost,
    removeCoHost,
    forceStopScreenShare,
    screenShareOverride,
    startWhiteboard,
    stopWhiteboard,
    stopSharePrivate,
    participantStartScreenShare,
    participantStopScreenShare,
    reaction,
};

/// Builds the message of `kind` as the local user (`room`) sends it. `localShareUid` is the
/// stream of the local screen share (0: none), which the share's start message carries; `target`
/// is the participant a peer message or the co-host change names; `reactionsType` is used by
/// `reaction` only.
/// A peer message with nobody to send it to (no target, or for `stopSharePrivate` no recorded
/// whiteboard sharer) gives nullopt: sending it would address the empty peer id.
std::optional<KRRtmMessage> makeControlMessage(KRControlMessage kind, const KRCurrentRoom& room,
                                               std::uint64_t localShareUid,
                                               const KRMeetingUser* target,
                                               const std::string& reactionsType = {});

}  // namespace kr
