#pragma once

namespace kr {

/// How a video is fitted into its view. Compares and hashes by case.
enum class VideoRenderMode {
    scaleToFill,
    scaleAspectFit,
    scaleAspectFill,
};

}  // namespace kr
