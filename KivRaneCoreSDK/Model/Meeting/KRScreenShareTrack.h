#pragma once

#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMediaTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"

namespace kr {

/// A remote screen share as the host app sees it: the share stream's tracks and the sharer.
/// Shared by reference (std::shared_ptr); the tracks are never null. Every accessor is
/// overridable. Not thread-safe: used on the main queue.
class KRScreenShareTrack : public KRMediaTrack {
public:
    /// A null track is replaced by a fresh empty one.
    KRScreenShareTrack(std::string id, std::shared_ptr<KRAudioTrack> audioTrack,
                       std::shared_ptr<KRVideoTrack> videoTrack, std::string sharingUserId,
                       std::string sharingUserName);

    KRScreenShareTrack(const KRScreenShareTrack&) = delete;
    KRScreenShareTrack& operator=(const KRScreenShareTrack&) = delete;

    std::string id() const override { return id_; }
    KRMediaTrackSourceType sourceType() const override {
        return KRMediaTrackSourceType::screenShare;
    }
    std::shared_ptr<KRAudioTrack> audioTrack() const override { return audioTrack_; }
    void setAudioTrack(std::shared_ptr<KRAudioTrack> track) override;
    std::shared_ptr<KRVideoTrack> videoTrack() const override { return videoTrack_; }
    void setVideoTrack(std::shared_ptr<KRVideoTrack> track) override;
    virtual std::string sharingUserId() const { return sharingUserId_; }
    virtual void setSharingUserId(std::string value) { sharingUserId_ = std::move(value); }
    virtual std::string sharingUserName() const { return sharingUserName_; }
    virtual void setSharingUserName(std::string value) { sharingUserName_ = std::move(value); }

private:
    const std::string id_;
    std::shared_ptr<KRAudioTrack> audioTrack_;
    std::shared_ptr<KRVideoTrack> videoTrack_;
    std::string sharingUserId_;
    std::string sharingUserName_;
};

}  // namespace kr
