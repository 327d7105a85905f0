#pragma once

namespace kr {

/// One kind of change between two merged participant values, in the order the participant
/// manager fires its per-change events. Compares and hashes by case.
enum class ParticipantUpdateType {
    audio,
    video,
    loudestVolume,
    name,
    handRaise,
    coHostRight,
    hostRight,
    screenShare,
    role,
};

}  // namespace kr
