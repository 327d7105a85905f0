#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMediaTrackSourceType.h"
#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"

namespace kr {

/// Base of the two things a meeting shows with sound and picture: a participant
/// (KRMeetingUser) and a screen share (KRScreenShareTrack). Held by std::shared_ptr; a list of
/// media tracks holds both side by side. The tracks are never null.
/// Not thread-safe: used on the main queue.
class KRMediaTrack {
public:
    virtual ~KRMediaTrack() = default;

    virtual std::string id() const = 0;
    virtual KRMediaTrackSourceType sourceType() const = 0;
    virtual std::shared_ptr<KRVideoTrack> videoTrack() const = 0;
    /// A null track is ignored: the current one stays.
    virtual void setVideoTrack(std::shared_ptr<KRVideoTrack> track) = 0;
    virtual std::shared_ptr<KRAudioTrack> audioTrack() const = 0;
    /// A null track is ignored: the current one stays.
    virtual void setAudioTrack(std::shared_ptr<KRAudioTrack> track) = 0;

protected:
    KRMediaTrack() = default;
    KRMediaTrack(const KRMediaTrack&) = default;
    KRMediaTrack& operator=(const KRMediaTrack&) = default;
};

}  // namespace kr
