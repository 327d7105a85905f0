#include "KivRaneCoreSDK/Model/Media/RtcAuxiliaryTrack.h"

#include <utility>

namespace kr {

RtcAuxiliaryTrack::RtcAuxiliaryTrack(std::string id, std::string parentId)
    : id_(std::move(id)), parentId_(std::move(parentId)) {}

void RtcAuxiliaryTrack::setVideoCanvas(std::shared_ptr<RtcVideoCanvas> canvas) {
    videoCanvas_ = std::move(canvas);
}

void RtcAuxiliaryTrack::destroyVideoCanvas() {
    if (auto canvas = std::exchange(videoCanvas_, nullptr)) {
        canvas->destroyView();
    }
}

}  // namespace kr
