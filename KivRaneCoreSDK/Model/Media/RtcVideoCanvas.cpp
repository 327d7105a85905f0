#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"

namespace kr {

std::shared_ptr<platform::VideoCanvas> RtcVideoCanvas::getRtcCanvas() {
    return std::make_shared<platform::VideoCanvas>();
}

}  // namespace kr
