#pragma once

// Clients on the room engine backend against the local meeting service: a recorder of what the
// backend raises, a host-built engine that records what the client asks of it, and a fixture that
// starts clients on one media bus and one messaging service.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/ClientTestDelegate.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/KrMediaTestEngine.h"
#include "testing/KRClientTestSeam.h"

namespace kr::test {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

inline constexpr const char* kHostToken = "host-token-1";

/// One line per report of what this backend raises.
class RoomEngineRecorder : public KRClientDelegate {
public:
    Lines lines;
    bool has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool startsWith(const std::string& prefix) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    void didLocalUserJoinedMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("joined");
    }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason& reason) override {
        lines.push_back("left " + std::to_string(static_cast<int>(reason.kind())));
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override {
        lines.push_back("join failed " + error.message);
    }
    void didRemoteUserJoinedMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u) override {
        lines.push_back("remote joined " + u->id());
    }
    void didRemoteUserLeftMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u,
                                  const KRUserLeftReason&) override {
        lines.push_back("remote left " + u->id());
    }
    void didRemoteUserMicStatusUpdated(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u,
                                       bool muted) override {
        lines.push_back("remote mic " + u->id() + (muted ? " off" : " on"));
    }
    void didRemoteUserHandRaiseStatusUpdated(const KRMeeting&,
                                             const std::shared_ptr<KRMeetingUser>& u,
                                             bool raised) override {
        lines.push_back("remote hand " + u->id() + (raised ? " up" : " down"));
    }
    void didDetectActiveSpeakers(const KRMeeting&,
                                 const std::vector<std::shared_ptr<KRMeetingUser>>& users) override {
        lines.push_back("speakers " + std::to_string(users.size()));
    }
    void didHostEnableHardAudioMute(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("hard mute");
    }
    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    void didHostDisableHardAudioMute(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("hard mute off");
    }
    void didHostLowerAllHands(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("hands lowered");
    }
    void didLocalUserMicStatusUpdated(const KRMeeting&, bool muted) override {
        lines.push_back(std::string("mic ") + (muted ? "off" : "on"));
    }
    void didRemoteUserVideoStatusUpdated(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u,
                                         bool muted) override {
        lines.push_back("remote camera " + u->id() + (muted ? " off" : " on"));
    }
    void didCoHostRightsChanged(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by,
                                bool isCoHost) override {
        lines.push_back(std::string(isCoHost ? "co-host granted" : "co-host removed") + " by " +
                        (by ? by->id() : std::string("nobody")));
    }
    void didRemoteScreenShareStateChanged(const KRMeeting&, const KRScreenShareState& state) override {
        lines.push_back(screenShareLine("remote share ", state));
    }
    void didLocalScreenShareStateChanged(const KRMeeting&, const KRScreenShareState& state) override {
        lines.push_back(screenShareLine("local share ", state));
    }
    void didLocalUserMovedToAudience(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("moved to audience");
    }
    void didLocalUserMovedToParticipant(const KRMeeting&,
                                        const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("moved to participant");
    }

private:
    static std::string screenShareLine(const std::string& prefix, const KRScreenShareState& state) {
        if (const auto* started = state.asStarted()) {
            return prefix + "started by " +
                   (started->mediaTrack ? started->mediaTrack->sharingUserId() : std::string());
        }
        return prefix + "stopped";
    }
};

/// A host-built engine that records what the client asks of it; the test plays its reports.
class ScriptedEngine : public RtcManagerProtocol {
public:
    std::weak_ptr<RtcManagerDelegate> delegate;
    std::weak_ptr<RtmManagerDelegate> rtm;
    Lines calls;
    std::vector<KRRtmMessage> sent;

    void configureRtcEngine(const boost::json::object&, std::weak_ptr<RtcManagerDelegate> d) override {
        delegate = std::move(d);
        calls.push_back("configure");
    }
    void setUpLocalRtcVideoView() override { calls.push_back("local view"); }
    void startPreview() override {}
    void stopPreview() override {}
    void joinRoom(const boost::json::object&) override { calls.push_back("join"); }
    void muteUnmuteLocalAudio(bool muted) override {
        calls.push_back(std::string("mute audio ") + (muted ? "on" : "off"));
    }
    void muteUnmuteLocalVideo(bool) override {}
    void switchCamera() override {}
    void leaveRtcChannel() override { calls.push_back("leave"); }
    void setUpRemoteStreamVideoView(const std::string& id, VideoRenderMode) override {
        calls.push_back("remote view " + id);
    }
    void muteUnmuteUserAudioStream(bool, const std::string&) override {}
    void muteUnmuteUserVideoStream(bool, const std::string&) override {}
    bool isConnectedToRtcServer() const override { return true; }
    std::shared_ptr<RtcVideoCanvas> getRtcCanvas(const std::string&) const override { return nullptr; }
    std::shared_ptr<platform::View> getVideoStreamView(const std::string&) const override {
        return nullptr;
    }
    std::shared_ptr<RtcPeerMetaData> getPeerData(const std::string&) const override { return nullptr; }
    void switchAudioDevice(KRAudioDeviceType) override {}
    void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> d) override { rtm = std::move(d); }
    void sendPublicMessage(const KRRtmMessage& m) override { sent.push_back(m); }
    void sendPrivateMessage(const KRRtmMessage& m) override { sent.push_back(m); }
    void enableDisableAudioOnlyMode(bool) override {}
    void setRemoteStreamQuality(KRRemoteStreamQuality, const std::string&) override {}
    void switchClientRole(bool isAudience) override {
        calls.push_back(isAudience ? "role audience" : "role participant");
    }
    bool called(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
};

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<RoomEngineRecorder> recorder;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class MultiMediaMeetingTest : public ::testing::Test {
protected:
    /// Real time by default; a unit test passes a manual clock to drive the library's timers.
    explicit MultiMediaMeetingTest(
        std::shared_ptr<platform::Clock> clock = platform::SteadyClock::instance())
        : main(platform::MainQueue::create(std::move(clock))) {}
    ~MultiMediaMeetingTest() override { members.clear(); }

    /// Each call gives a member of its own contact list and broadcast-extension centre.
    KRDependencies deps() {
        KRDependencies d;
        d.queue = main;
        d.reachability = test::quietReachability();
        d.storageDirectory = storage.path();
        d.routing = service.routing();
        d.messagingService = messaging;
        d.mediaBus = bus;
        d.contacts = std::make_shared<ContactSyncManager>();
        d.extensionNotifications = std::make_shared<platform::DarwinNotifyCenter>();
        return d;
    }

    Member& start(const std::string& meetingId, const std::string& name, KRUserRole role,
                  bool hostEngine = false, bool audioOn = true) {
        const KRDependencies d = deps();
        Member member{KRClient::create(d), std::make_shared<RoomEngineRecorder>()};
        member.client->setMultiMediaEngineIntegration(true);
        if (hostEngine) {
            member.client->setRtcEngineManager(test::KrMediaTestEngine::create(d));
        }
        members.push_back(member);
        member.client->joinMeeting(KRJoinMeetingData(meetingId, "4321", name),
                                   KRJoinMeetingConfig(std::move(role), audioOn, true),
                                   member.recorder);
        return members.back();
    }

    Member& join(const std::string& meetingId, const std::string& name,
                 KRUserRole role = KRUserRole::speaker(), bool hostEngine = false) {
        Member& m = start(meetingId, name, std::move(role), hostEngine);
        EXPECT_TRUE(main->runUntil(
            [&] { return m.recorder->has("joined") || m.recorder->startsWith("join failed"); },
            10s))
            << name;
        EXPECT_TRUE(m.recorder->has("joined")) << name;
        return m;
    }

    /// Adds a room whose engine is the host's "kr-media" one.
    void addKrMediaRoom(const std::string& meetingId, const std::string& roomId) {
        MeetingRoomSetup room;
        room.meetingId = meetingId;
        room.roomId = roomId;
        room.mediaEngine = "kr-media";
        service.addRoom(room);
    }

    bool seesEachOther(Member& a, Member& b) {
        return main->runUntil(
            [&] {
                return a.recorder->has("remote joined " + b.uid()) &&
                       b.recorder->has("remote joined " + a.uid());
            },
            10s);
    }

    std::shared_ptr<platform::MainQueue> main;
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::deque<Member> members;
};

}  // namespace kr::test
