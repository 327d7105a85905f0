#pragma once

namespace kr {

/// Which of a remote sender's two video streams to receive when it sends both. Compares and
/// hashes by case.
enum class KRRemoteStreamQuality {
    high,
    low,
};

}  // namespace kr
