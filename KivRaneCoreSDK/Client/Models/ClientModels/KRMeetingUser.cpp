#include "KivRaneCoreSDK/Client/Models/ClientModels/KRMeetingUser.h"

#include <utility>

namespace kr {

KRMeetingUser::KRMeetingUser()
    : audioTrack_(std::make_shared<KRAudioTrack>()),
      videoTrack_(std::make_shared<KRVideoTrack>()) {}

KRMeetingUser::KRMeetingUser(std::string id, std::string userId,
                             std::shared_ptr<KRAudioTrack> audioTrack,
                             std::shared_ptr<KRVideoTrack> videoTrack, std::string displayName,
                             bool isSpeaker, bool isCoHost, bool isHandRaised, bool isSharingScreen,
                             bool isHost)
    : userId_(std::move(userId)),
      id_(std::move(id)),
      displayName_(std::move(displayName)),
      isHost_(isHost),
      isCoHost_(isCoHost),
      isSpeaker_(isSpeaker),
      isHandRaised_(isHandRaised),
      isSharingScreen_(isSharingScreen),
      audioTrack_(audioTrack ? std::move(audioTrack) : std::make_shared<KRAudioTrack>()),
      videoTrack_(videoTrack ? std::move(videoTrack) : std::make_shared<KRVideoTrack>()) {}

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
