#include "KivRaneCoreSDK/RTC/Models/RtcVideoCanvas.h"

namespace kr {

namespace {
/// The empty object handed out by canvases that have no engine canvas of their own.
struct EmptyCanvasObject {};
}  // namespace

std::shared_ptr<void> RtcVideoCanvas::getRtcCanvas() {
    return std::make_shared<EmptyCanvasObject>();
}

}  // namespace kr
