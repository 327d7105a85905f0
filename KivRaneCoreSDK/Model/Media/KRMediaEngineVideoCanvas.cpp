#include "KivRaneCoreSDK/Model/Media/KRMediaEngineVideoCanvas.h"

#include <utility>

namespace kr {

KRMediaEngineVideoCanvas::KRMediaEngineVideoCanvas(std::string id, VideoRenderMode /*renderMode*/)
    : id_(std::move(id)), streamView_(platform::View::create()) {}

void KRMediaEngineVideoCanvas::destroyView() {
    if (auto view = std::exchange(streamView_, nullptr)) {
        view->removeFromSuperview();
    }
}

}  // namespace kr
