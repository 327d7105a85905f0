#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

#include <utility>

namespace kr {

RtcPeerMetaData::RtcPeerMetaData(std::string id, bool isAudioMuted, bool isVideoMuted,
                                 bool isLoudest)
    : id_(std::move(id)),
      isAudioMuted_(isAudioMuted),
      isVideoMuted_(isVideoMuted),
      isLoudest_(isLoudest) {}

void RtcPeerMetaData::setVideoCanvas(std::shared_ptr<RtcVideoCanvas> canvas) {
    videoCanvas_ = std::move(canvas);
}

void RtcPeerMetaData::destroyVideoCanvas() {
    if (auto canvas = std::exchange(videoCanvas_, nullptr)) {
        canvas->destroyView();
    }
}

void RtcPeerMetaData::setAuxiliaryTrack(std::shared_ptr<RtcAuxiliaryTrack> track) {
    if (track) {
        auxiliaryTrack_ = std::move(track);
    }
}

void RtcPeerMetaData::destroyAuxiliaryTrack() {
    if (auto track = std::exchange(auxiliaryTrack_, nullptr)) {
        track->destroyVideoCanvas();
    }
}

bool operator==(const RtcPeerMetaData& lhs, const RtcPeerMetaData& rhs) {
    return lhs.id() == rhs.id() && lhs.isAudioMuted() == rhs.isAudioMuted() &&
           lhs.isVideoMuted() == rhs.isVideoMuted() && lhs.isLoudest() == rhs.isLoudest() &&
           lhs.isAudiencePeer() == rhs.isAudiencePeer() &&
           lhs.isScreenShareTrack() == rhs.isScreenShareTrack();
}

}  // namespace kr
