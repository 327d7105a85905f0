#pragma once

#include <cstdint>

namespace kr {

/// Encoder numbers for either of the engine's two video streams: width and height in pixels,
/// kbit/s, fps and the engine's orientation mode. Plain value.
struct KRRtcVideoEncoderConfig {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t bitRate = 0;
    std::int64_t frameRate = 0;
    std::int64_t orientation = 0;

    friend bool operator==(const KRRtcVideoEncoderConfig&, const KRRtcVideoEncoderConfig&) = default;
};

/// What the published (high) and the low video stream use where no usable value is given.
inline constexpr KRRtcVideoEncoderConfig kKRHighStreamEncoderDefaults{480, 360, 640, 15, 0};
inline constexpr KRRtcVideoEncoderConfig kKRLowStreamEncoderDefaults{160, 90, 64, 7, 0};

}  // namespace kr
