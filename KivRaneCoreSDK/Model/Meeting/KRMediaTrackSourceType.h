#pragma once

namespace kr {

/// What a media track stands for: a participant or a screen share. Compares and hashes by case.
enum class KRMediaTrackSourceType {
    user = 0,
    screenShare = 1,
};

}  // namespace kr
