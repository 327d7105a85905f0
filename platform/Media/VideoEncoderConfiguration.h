#pragma once

namespace kr::platform {

/// Encoder settings of the published video stream (pixels, frames per second, kbit/s and the
/// engine's orientation mode). The stand-in only records them.
struct VideoEncoderConfiguration {
    int width = 640;
    int height = 360;
    int frameRate = 15;
    int bitrate = 0;
    int orientationMode = 0;
};

}  // namespace kr::platform
