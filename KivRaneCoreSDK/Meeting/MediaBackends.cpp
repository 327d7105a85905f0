#include "KivRaneCoreSDK/Meeting/MediaBackend.h"

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

// The client's default media backend and the client's choice of backend. The default one acts
// on the client that owns it: its steps live with the client (ClientCoreEngine.cpp and
// ClientCoreMediaRoad.cpp); here is only which step it takes. The room's engine backend owns its
// engine and steps (RoomEngineBackend*.cpp).

namespace kr {

/// The library's engine wrapper (`KRRtcManger`) and messaging session (`KRRtmManager`): the
/// room store holds the participants, the engine reports them.
class DefaultEngineBackend final : public MediaBackend {
public:
    explicit DefaultEngineBackend(ClientCore& client) : c_(client) {}

    Kind kind() const override { return Kind::defaultEngine; }

    void join(const KRJoinMeetingConfig&) override {
        if (c_.shouldByPassAPICalls_) {
            c_.mediaJoinRequested();
            c_.configureRtmAndEngine();
            return;
        }
        c_.startServerJoin();
    }
    void cancelJoin(bool mediaAwaited) override {
        if (!mediaAwaited) return;
        c_.cancelMediaJoin();
        c_.leaveRtm();
    }
    void leave() override { c_.leaveMediaAndMessaging(); }
    void networkStateChanged(bool) override {}  // the watchdog watches this backend's network

    void muteLocalMedia(bool audio, bool isMute) override {
        c_.switchLocalMediaInEngine(audio, isMute);
    }
    void switchClientRole(bool isAudience) override {
        // The engine's role report then tells the host app, and retries a refused broadcaster role.
        c_.rtcManager_->switchClientRole(isAudience);
    }
    void applyVirtualBackground(const KRVirtualBackgroundType& background) override {
        c_.rtcManager_->applyVirtualBackground(background);
    }
    void startPreview() override { c_.rtcManager_->startPreview(); }
    void stopPreview() override { c_.rtcManager_->stopPreview(); }
    void switchCamera() override { c_.rtcManager_->switchCamera(); }
    void switchAudioDevice(KRAudioDeviceType type) override {
        c_.rtcManager_->switchAudioDevice(type);
    }
    void subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) override {
        audio ? c_.rtcManager_->muteUnmuteUserAudioStream(!subscribe, id)
              : c_.rtcManager_->muteUnmuteUserVideoStream(!subscribe, id);
    }
    void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) override {
        c_.rtcManager_->setRemoteStreamQuality(quality, uid);
    }

    void sendControlMessage(KRControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                            Completion completion, const std::string& reactionsType) override {
        c_.sendControlMessageThroughMessaging(kind, target, std::move(completion), reactionsType);
    }
    bool knowsLocalShareWithoutTrack() const override { return false; }

    bool participantsFromMerge() const override { return false; }
    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const override {
        return c_.currentRoom_.meetingUsers();
    }
    std::shared_ptr<KRMeetingUser> localUser() const override {
        return c_.currentRoom_.getLocalUser();
    }
    std::shared_ptr<KRMeetingUser> user(const std::string& id) const override {
        return c_.currentRoom_.trackUser(id);
    }
    std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const override {
        return c_.currentRoom_.allMediaTracks;
    }
    bool markLocalHand(bool) override { return true; }  // the room store's mark is the client's

private:
    ClientCore& c_;
};

std::shared_ptr<MediaBackend> makeDefaultEngineBackend(ClientCore& client) {
    return std::make_shared<DefaultEngineBackend>(client);
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
