#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"

#include <utility>

namespace kr {

KRScreenShareTrack::KRScreenShareTrack(std::string id, std::shared_ptr<KRAudioTrack> audioTrack,
                                       std::shared_ptr<KRVideoTrack> videoTrack,
                                       std::string sharingUserId, std::string sharingUserName)
    : id_(std::move(id)),
      audioTrack_(audioTrack ? std::move(audioTrack) : std::make_shared<KRAudioTrack>()),
      videoTrack_(videoTrack ? std::move(videoTrack) : std::make_shared<KRVideoTrack>()),
      sharingUserId_(std::move(sharingUserId)),
      sharingUserName_(std::move(sharingUserName)) {}

void KRScreenShareTrack::setAudioTrack(std::shared_ptr<KRAudioTrack> track) {
    if (track) {
        audioTrack_ = std::move(track);
    }
}

void KRScreenShareTrack::setVideoTrack(std::shared_ptr<KRVideoTrack> track) {
    if (track) {
        videoTrack_ = std::move(track);
    }
}

}  // namespace kr
