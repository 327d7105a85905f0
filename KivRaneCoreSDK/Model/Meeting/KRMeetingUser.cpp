#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"

#include <utility>

namespace kr {

KRMeetingUser::KRMeetingUser(Parameters p)
    : userId_(std::move(p.userId)),
      id_(std::move(p.id)),
      displayName_(std::move(p.displayName)),
      isHost_(p.isHost),
      isCoHost_(p.isCoHost),
      isSpeaker_(p.isSpeaker),
      isHandRaised_(p.isHandRaised),
      isSharingScreen_(p.isSharingScreen),
      audioTrack_(p.audioTrack ? std::move(p.audioTrack) : std::make_shared<KRAudioTrack>()),
      videoTrack_(p.videoTrack ? std::move(p.videoTrack) : std::make_shared<KRVideoTrack>()) {}

void KRMeetingUser::setAudioTrack(std::shared_ptr<KRAudioTrack> track) {
    if (track) {
        audioTrack_ = std::move(track);
    }
}

void KRMeetingUser::setVideoTrack(std::shared_ptr<KRVideoTrack> track) {
    if (track) {
        videoTrack_ = std::move(track);
    }
}

void KRMeetingUser::resetVideoTrack() {
    const std::shared_ptr<KRVideoTrack> track = videoTrack();
    if (!track) {
        return;  // only an override could hand back none
    }
    if (auto view = track->streamView()) {
        view->removeFromSuperview();
    }
    track->setStreamView(nullptr);
}

std::string KRMeetingUser::getUserGuestID() const {
    return userId();
}

}  // namespace kr
