#include "KivRaneCoreSDK/Meeting/MediaBackend.h"

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

// The room engine's backend and the client's choice of backend (the default engine's is
// DefaultEngineBackend.h). This one acts on the client that owns it: the steps it runs live with
// the client (KRClientMultiMedia*.cpp); here is only which step it takes.

namespace kr {

/// The engine the room names, behind `RtcManagerProtocol`, which carries the control messages
/// too: the participant merge holds the participants.
class RoomEngineBackend final : public MediaBackend {
public:
    explicit RoomEngineBackend(ClientCore& client) : c_(client) {}

    Kind kind() const override { return Kind::roomEngine; }

    void join(const KRJoinMeetingConfig& config) override {
        c_.configureForMultiMediaEngine(config);
    }
    void cancelJoin(bool) override {
        if (std::exchange(c_.multiMediaChannelAsked_, false) && c_.rtcEngineManager_) {
            // Nothing of a failed join may stay in the media channel, nor report from it.
            c_.rtcEngineManager_->leaveRtcChannel();
        }
    }
    void leave() override { c_.leaveMultiMediaMeeting(); }
    void networkStateChanged(bool isConnected) override {
        c_.handleMultiMediaNetworkState(isConnected);
    }

    void muteLocalMedia(bool audio, bool isMute) override {
        c_.switchLocalMediaInMultiMediaEngine(audio, isMute);
    }
    void switchClientRole(bool) override {
        c_.logger_.info("Client role switch asked of the media channel");
    }
    void applyVirtualBackground(const KRVirtualBackgroundType& background) override {
        if (c_.rtcEngineManager_ && c_.multiMediaChannelAsked_) {
            // Its join data carried the earlier choice; a change from now on goes to it directly.
            c_.rtcEngineManager_->applyVirtualBackground(background);
        }
    }
    // The room's engine runs its own devices and subscriptions.
    void startPreview() override {}
    void stopPreview() override {}
    void switchCamera() override {}
    void switchAudioDevice(KRAudioDeviceType) override {}
    void subscribeRemoteMedia(bool, const std::string&, bool) override {}
    void setRemoteStreamQuality(KRRemoteStreamQuality, const std::string&) override {}

    void sendControlMessage(KRControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                            Completion completion, const std::string& reactionsType) override {
        c_.sendControlMessageThroughEngine(kind, target, std::move(completion), reactionsType);
    }
    bool knowsLocalShareWithoutTrack() const override {
        const auto& merge = c_.meetingUsersManager_;
        return merge.isSharingScreen(merge.getCurrentParticipantId());
    }

    bool participantsFromMerge() const override { return true; }
    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const override {
        return c_.meetingUsersManager_.getAllMeetingUser();
    }
    std::shared_ptr<KRMeetingUser> localUser() const override {
        return c_.meetingUsersManager_.getLocalUser();
    }
    std::shared_ptr<KRMeetingUser> user(const std::string& id) const override {
        return c_.meetingUsersManager_.getMeetingUser(id);
    }
    std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const override {
        std::vector<std::shared_ptr<KRMediaTrack>> tracks;
        for (const auto& user : c_.meetingUsersManager_.getAllMeetingUser()) {
            tracks.push_back(user);
        }
        for (const auto& share : c_.meetingUsersManager_.getScreenShareTracks()) {
            tracks.push_back(share);
        }
        return tracks;
    }
    bool markLocalHand(bool isRaised) override {
        // This backend's local user lives in the participant merge, and only after the local join.
        auto local = c_.meetingUsersManager_.getLocalUser();
        if (!local) return false;
        local->setIsHandRaised(isRaised);
        return true;
    }

private:
    ClientCore& c_;
};

std::shared_ptr<MediaBackend> makeRoomEngineBackend(ClientCore& client) {
    return std::make_shared<RoomEngineBackend>(client);
}

// ---- The client's choice ----

void ClientCore::pickMediaBackend() {
    const auto kind = nextJoinUsesRoomEngine_ ? MediaBackend::Kind::roomEngine
                                              : MediaBackend::Kind::defaultEngine;
    meetingBackend_ = backendFactory_ ? backendFactory_(kind, *this) : nullptr;
    if (!meetingBackend_) {
        meetingBackend_ =
            kind == MediaBackend::Kind::roomEngine ? roomEngineBackend_ : defaultEngineBackend_;
    }
}

MediaBackend& ClientCore::mediaBackend() const {
    if (meetingBackend_ && wantsEngineReports()) return *meetingBackend_;
    return nextJoinUsesRoomEngine_ ? *roomEngineBackend_ : *defaultEngineBackend_;
}

}  // namespace kr
