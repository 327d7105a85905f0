#include "KivRaneCoreSDK/Model/Media/KRRtcParticipant.h"

namespace kr {

KRRtcParticipant::KRRtcParticipant(std::uint64_t uid, int renderMode)
    : uid_(uid),
      canvas_(std::make_shared<platform::VideoCanvas>()),
      canvasVideoView_(platform::View::create()) {
    canvas_->uid = uid;
    canvas_->renderMode = renderMode;
    canvas_->view = canvasVideoView_;
}

}  // namespace kr
