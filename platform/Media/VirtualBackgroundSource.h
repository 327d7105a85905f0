#pragma once

#include <cstdint>
#include <string>

namespace kr::platform {

/// What replaces the camera background: source type 1 a colour (0xRRGGBB), 2 an image file,
/// 3 a blur of the given degree (1 to 3). The stand-in only records it.
struct VirtualBackgroundSource {
    int backgroundSourceType = 1;
    std::uint32_t color = 0xFFFFFF;
    std::string source;
    int blurDegree = 3;
};

}  // namespace kr::platform
