#pragma once

#include <cstdint>

namespace kr::platform {

/// One entry of a volume report. Uid 0 stands for the local user. `vad` is 1 when voice activity
/// was detected in the local user's audio.
struct AudioVolumeInfo {
    std::uint64_t uid = 0;
    unsigned volume = 0;  // 0 to 255
    unsigned vad = 0;

    friend bool operator==(const AudioVolumeInfo&, const AudioVolumeInfo&) = default;
};

}  // namespace kr::platform
