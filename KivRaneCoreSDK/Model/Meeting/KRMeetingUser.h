#pragma once

#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMediaTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"
#include "platform/UI/View.h"

namespace kr {

/// A meeting member in the shape handed to the host app. The stores create one object per
/// participant (std::make_shared) and change it in place, so every holder, the host app
/// included, sees later changes. Holds its two tracks by reference; they are never null.
/// Every accessor is overridable. Not thread-safe: used on the main queue.
class KRMeetingUser : public KRMediaTrack {
public:
    /// What a participant starts with, by name: `{.id = uid, .displayName = "Ann", .isHost = true}`.
    struct Parameters {
        std::string id{};
        std::string userId{};
        std::shared_ptr<KRAudioTrack> audioTrack{};  ///< null: a fresh empty track
        std::shared_ptr<KRVideoTrack> videoTrack{};  ///< null: a fresh empty track
        std::string displayName{};
        bool isSpeaker = false;
        bool isCoHost = false;
        bool isHandRaised = false;
        bool isSharingScreen = false;
        bool isHost = false;
    };

    /// Empty strings, all flags false, no view, two fresh empty tracks.
    KRMeetingUser() : KRMeetingUser(Parameters{}) {}
    /// `isLoudest` and `isHardAudioMuted` start false and there is no view.
    explicit KRMeetingUser(Parameters p);

    KRMeetingUser(const KRMeetingUser&) = delete;
    KRMeetingUser& operator=(const KRMeetingUser&) = delete;

    virtual std::string userId() const { return userId_; }
    virtual void setUserId(std::string value) { userId_ = std::move(value); }
    std::string id() const override { return id_; }
    virtual void setId(std::string value) { id_ = std::move(value); }
    virtual std::string displayName() const { return displayName_; }
    virtual void setDisplayName(std::string value) { displayName_ = std::move(value); }
    virtual bool isHost() const { return isHost_; }
    virtual void setIsHost(bool value) { isHost_ = value; }
    virtual bool isCoHost() const { return isCoHost_; }
    virtual void setIsCoHost(bool value) { isCoHost_ = value; }
    virtual bool isSpeaker() const { return isSpeaker_; }
    virtual void setIsSpeaker(bool value) { isSpeaker_ = value; }
    virtual bool isHandRaised() const { return isHandRaised_; }
    virtual void setIsHandRaised(bool value) { isHandRaised_ = value; }
    /// Separate from the audio track's flag of the same name.
    virtual bool isLoudest() const { return isLoudest_; }
    virtual void setIsLoudest(bool value) { isLoudest_ = value; }
    /// Separate from the audio track's flag of the same name.
    virtual bool isHardAudioMuted() const { return isHardAudioMuted_; }
    virtual void setIsHardAudioMuted(bool value) { isHardAudioMuted_ = value; }
    virtual bool isSharingScreen() const { return isSharingScreen_; }
    virtual void setIsSharingScreen(bool value) { isSharingScreen_ = value; }
    /// A public slot for a view of the participant's video; the library renders into
    /// `videoTrack()->streamView()`.
    virtual std::shared_ptr<platform::View> videoStreamView() const { return videoStreamView_; }
    virtual void setVideoStreamView(std::shared_ptr<platform::View> view) {
        videoStreamView_ = std::move(view);
    }
    KRMediaTrackSourceType sourceType() const override { return KRMediaTrackSourceType::user; }
    std::shared_ptr<KRAudioTrack> audioTrack() const override { return audioTrack_; }
    void setAudioTrack(std::shared_ptr<KRAudioTrack> track) override;
    std::shared_ptr<KRVideoTrack> videoTrack() const override { return videoTrack_; }
    void setVideoTrack(std::shared_ptr<KRVideoTrack> track) override;

    /// Takes the video track's view out of its superview and clears it. The track object,
    /// its mute flag and `videoStreamView` stay as they are.
    virtual void resetVideoTrack();
    /// Same as `userId()`: guests have no separate id.
    virtual std::string getUserGuestID() const;

private:
    std::string userId_;
    std::string id_;
    std::string displayName_;
    bool isHost_ = false;
    bool isCoHost_ = false;
    bool isSpeaker_ = false;
    bool isHandRaised_ = false;
    bool isLoudest_ = false;
    bool isHardAudioMuted_ = false;
    bool isSharingScreen_ = false;
    std::shared_ptr<platform::View> videoStreamView_;
    std::shared_ptr<KRAudioTrack> audioTrack_;
    std::shared_ptr<KRVideoTrack> videoTrack_;
};

}  // namespace kr
