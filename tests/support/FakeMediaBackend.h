#pragma once

// A media backend that only records what the client asks of it, one line per call. Its
// participants are the room store's, so the client's queries and events keep working; the test
// plays the engine's part (completeLocalMediaJoin, handleLocalMediaLeft) itself. It reaches the
// meeting through its port only, as the client's own backends do.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"
#include "platform/Media/MediaBus.h"
#include "support/ClientTestDelegate.h"
#include "testing/KRClientTestSeam.h"

namespace kr::test {

class FakeMediaBackend final : public MediaBackend {
public:
    FakeMediaBackend(Kind kind, MeetingPort& port) : kind_(kind), port_(port) {}

    std::vector<std::string> lines;
    /// What `knowsLocalShareWithoutTrack` answers.
    bool shareWithoutTrack = false;
    /// What `reporting().mainDelegateOnly` answers.
    bool leaveToMainOnly = false;
    /// The channel reports its leave inside `leave()`, as an engine may.
    bool leavesAtOnce = false;
    /// What the join end and the teardown asked of it, apart from `lines`.
    std::vector<std::string> ends;

    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }

    Kind kind() const override { return kind_; }
    void join(const KRJoinMeetingConfig&) override { lines.push_back("join"); }
    void cancelJoin(bool mediaAwaited) override {
        lines.push_back(mediaAwaited ? "cancel awaited join" : "cancel join");
    }
    void leave() override {
        lines.push_back("leave");
        if (leavesAtOnce) port_.handleLocalMediaLeft();
    }
    void abandonLeaveReport() override { lines.push_back("abandon leave report"); }
    bool reportsToServerAfterMediaJoin() const override { return false; }
    void recordLocalParticipant() override {
        // As the default engine does when its engine gives no participant of its own.
        const KRCurrentRoom& room = port_.room();
        KRRtcParticipantState local;
        local.uid = mediaUidOf(room.userWebRtcId).value_or(0);
        local.isAudioMuted = room.isCurrentUserAudioMuted;
        local.isVideoMuted = room.isCurrentUserVideoMuted;
        local.isAudience = port_.isLocalUserInAudienceMode();
        port_.room().upsertNewParticipantFromRtcDB(local);
        ends.push_back("record local");
    }
    void releaseMeetingMedia() override { ends.push_back("release media"); }
    void releaseEngine() override { ends.push_back("release engine"); }
    Reporting reporting() const override { return {.mainDelegateOnly = leaveToMainOnly}; }
    void networkStateChanged(bool isConnected) override {
        lines.push_back(isConnected ? "network on" : "network off");
    }
    bool waitsForNetwork() const override { return false; }
    void muteLocalMedia(bool audio, bool isMute) override {
        lines.push_back(std::string(isMute ? "mute " : "unmute ") + (audio ? "audio" : "video"));
    }
    void switchClientRole(bool isAudience) override {
        lines.push_back(isAudience ? "role audience" : "role speaker");
    }
    void applyVirtualBackground(const KRVirtualBackgroundType&) override {
        lines.push_back("background");
    }
    void startPreview() override { lines.push_back("preview start"); }
    void stopPreview() override { lines.push_back("preview stop"); }
    void switchCamera() override { lines.push_back("camera"); }
    void switchAudioDevice(KRAudioDeviceType) override { lines.push_back("audio device"); }
    void subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) override {
        lines.push_back(std::string(subscribe ? "subscribe " : "unsubscribe ") +
                        (audio ? "audio " : "video ") + id);
    }
    void setRemoteStreamQuality(KRRemoteStreamQuality, const std::string& uid) override {
        lines.push_back("quality " + uid);
    }
    void sendControlMessage(KRControlMessage kind, const std::shared_ptr<KRMeetingUser>&,
                            Completion, const std::string&) override {
        lines.push_back("message " + std::to_string(static_cast<int>(kind)));
    }
    bool knowsLocalShareWithoutTrack() const override { return shareWithoutTrack; }
    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const override {
        return port_.room().meetingUsers();
    }
    std::shared_ptr<KRMeetingUser> localUser() const override {
        return port_.room().getLocalUser();
    }
    std::shared_ptr<KRMeetingUser> user(const std::string& id) const override {
        return port_.room().trackUser(id);
    }
    std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const override {
        return port_.room().allMediaTracks;
    }
    void markLocalRole(bool isAudience) override {
        lines.push_back(isAudience ? "local audience" : "local speaker");
    }
    bool markLocalHand(bool isRaised) override {
        lines.push_back(isRaised ? "hand raised" : "hand lowered");
        return true;
    }

private:
    Kind kind_;
    MeetingPort& port_;
};

/// A client that joins without server calls (media credentials in its settings, local uid 42):
/// a join goes to its media backend at once.
inline std::shared_ptr<KRClient> makeClientWithMediaCredentials(
    std::shared_ptr<platform::DispatchQueue> queue, std::shared_ptr<platform::MediaBus> bus) {
    KRDependencies deps;
    deps.queue = std::move(queue);
    deps.reachability = quietReachability();
    deps.mediaBus = std::move(bus);
    auto client = KRClient::create(deps);
    client->setParameters(boost::json::object{
        {"kr_agora_token", "tok"}, {"kr_uid", "42"}, {"kr_room_id", "room-9"}});
    return client;
}

/// Every following join of `client` gets a new stand-in, kept in `made` in the order made.
inline void recordBackends(KRClient& client, std::vector<std::shared_ptr<FakeMediaBackend>>& made) {
    internals(client).setMediaBackendFactory([&made](MediaBackend::Kind kind, MeetingPort& owner) {
        made.push_back(std::make_shared<FakeMediaBackend>(kind, owner));
        return made.back();
    });
}

}  // namespace kr::test
