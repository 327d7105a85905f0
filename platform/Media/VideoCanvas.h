#pragma once

#include <cstdint>
#include <memory>

#include "platform/Media/MediaCodes.h"
#include "platform/UI/View.h"

namespace kr::platform {

/// Binds one engine uid to the view its video is drawn in. Handing the engine a canvas whose
/// view is null unbinds that uid. The engine copies the canvas at the call and keeps the view
/// weakly, so a dropped view is simply no longer bound.
struct VideoCanvas {
    std::uint64_t uid = 0;
    std::shared_ptr<View> view;
    int renderMode = MediaCodes::kRenderHidden;
};

}  // namespace kr::platform
