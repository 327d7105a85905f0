// The client's side of the room engine backend, on a main queue driven by a manual clock: the
// server calls of the set-up and their order, what the room's engine is handed, the engine's
// waits the client must end, the bounded question about unknown streams, role changes reported
// by the engine, the rejoin when the network returns, and a second meeting on the same client.
// The local meeting service still answers over real HTTPS: replies are waited for with
// runUntil, the library's own timers are moved by advancing the clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Model/Media/RtcAuxiliaryTrack.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Messaging/MessagingClient.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Media/MediaCodes.h"
#include "support/MultiMediaMeeting.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace test;
using R = MeetingServiceRoute;

/// The room engine recorder plus the loudest speaker and the soft mute.
class Recorder : public RoomEngineRecorder {
public:
    void didLoudestSpeakerUpdated(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u) override {
        lines.push_back("loudest " + (u ? u->id() : std::string("nobody")));
    }
    void didHostEnableSoftAudioMute(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("soft mute");
    }
    std::size_t count(const std::string& prefix) const {
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
};

/// The scripted engine, also keeping what it was handed and when its messaging receiver changed.
class RecordingEngine : public ScriptedEngine {
public:
    std::vector<boost::json::object> configures;
    std::vector<boost::json::object> joins;

    void configureRtcEngine(const boost::json::object& data,
                            std::weak_ptr<RtcManagerDelegate> d) override {
        configures.push_back(data);
        ScriptedEngine::configureRtcEngine(data, std::move(d));
    }
    void joinRoom(const boost::json::object& data) override {
        joins.push_back(data);
        ScriptedEngine::joinRoom(data);
    }
    void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> d) override {
        calls.push_back(d.expired() ? "rtm cleared" : "rtm");
        ScriptedEngine::setRtmDelegate(std::move(d));
    }
    void muteUnmuteLocalVideo(bool muted) override {
        calls.push_back(std::string("mute video ") + (muted ? "on" : "off"));
    }
    void stopScreenShare() override { calls.push_back("stop share"); }
    std::size_t count(const std::string& call) const {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }
    bool startsWith(const std::string& prefix) const {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }
};

/// Counts the client's handled room-status replies: the retry of a stream question is
/// scheduled in the same task, so a count that moved means the next try is on the clock.
class StatusReplyCounter : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string&, KivRaneRMLogLevel) override {
        if (message.rfind("Get Room Connection Status", 0) == 0) ++replies;
    }
    std::atomic<std::size_t> replies{0};
};

struct Party {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<RecordingEngine> engine;  // null: the room's engine is the library's own
    std::string uid;                          // the one a scripted engine reported
    std::shared_ptr<platform::DarwinNotifyCenter> extension;  // its broadcast extension's centre
};

class KRClientMultiMediaTest : public MultiMediaMeetingTest {
protected:
    explicit KRClientMultiMediaTest(
        std::shared_ptr<platform::ManualClock> c = platform::ManualClock::create())
        : MultiMediaMeetingTest(c), clock(std::move(c)) {}

    static constexpr const char* kKrRoom = "5550001111";
    static constexpr const char* kAgoraRoom = "1234567890";  // the service's default room

    void SetUp() override { addKrMediaRoom(kKrRoom, "room-kr"); }

    Party makeParty(bool withEngine) {
        Party p;
        KRDependencies d = deps();
        d.logCollector = statusReplies;
        p.extension = d.extensionNotifications;
        p.client = KRClient::create(d);
        p.client->setMultiMediaEngineIntegration(true);
        if (withEngine) {
            p.engine = std::make_shared<RecordingEngine>();
            p.client->setRtcEngineManager(p.engine);
        }
        return p;
    }

    static void startJoin(Party& p, const std::string& meetingId, KRUserRole role,
                          bool audioOn = true, bool videoOn = true) {
        p.client->joinMeeting(KRJoinMeetingData(meetingId, "4321", "Ann"),
                              KRJoinMeetingConfig(std::move(role), audioOn, videoOn), p.recorder);
    }

    /// A "kr-media" party whose scripted engine has been asked to join.
    Party engineAskedToJoin(KRUserRole role = KRUserRole::speaker()) {
        Party p = makeParty(true);
        startJoin(p, kKrRoom, std::move(role));
        EXPECT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s));
        return p;
    }

    /// The engine reports the local participant in, under a uid no earlier guest session
    /// claimed in the room; the count is of the engine's completion.
    std::shared_ptr<int> reportLocalJoin(Party& p) {
        p.uid = std::to_string(nextUid_++);
        const std::string& uid = p.uid;
        auto finished = std::make_shared<int>(0);
        auto rtc = p.engine->delegate.lock();
        EXPECT_TRUE(rtc);
        if (rtc) {
            rtc->didLocalParticipantJoinChannel(
                std::make_shared<RtcPeerMetaData>(uid, false, false, false),
                [finished] { ++*finished; });
        }
        return finished;
    }

    /// A "kr-media" party in its meeting on the scripted engine.
    Party joinedOnScriptedEngine(KRUserRole role = KRUserRole::speaker()) {
        Party p = engineAskedToJoin(std::move(role));
        auto finished = reportLocalJoin(p);
        EXPECT_TRUE(main->runUntil([&] { return *finished == 1; }, 10s));
        EXPECT_TRUE(p.recorder->has("joined")) << testing::PrintToString(p.recorder->lines);
        return p;
    }

    /// An "agora" party in its meeting on the library's engine.
    Party joinedOnAgora(KRUserRole role = KRUserRole::speaker(), bool audioOn = true,
                        bool videoOn = true) {
        Party p = makeParty(false);
        startJoin(p, kAgoraRoom, std::move(role), audioOn, videoOn);
        EXPECT_TRUE(main->runUntil(
            [&] { return p.recorder->has("joined") || p.recorder->startsWith("join failed"); }, 10s));
        EXPECT_TRUE(p.recorder->has("joined"));
        return p;
    }

    /// Ends the meeting of a scripted-engine party as its engine would: asked to leave, it reports.
    void leaveOnScriptedEngine(Party& p) {
        const auto leavesBefore = p.engine->count("leave");
        p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return p.engine->count("leave") > leavesBefore; }, 10s));
        auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        rtc->didLocalParticipantLeaveChannel(KRUserLeftReason::leaveMeeting(), {});
        ASSERT_TRUE(p.recorder->startsWith("left"));
    }

    /// Lets replies already on their way arrive, without moving the library's clock.
    void settle() { main->runFor(250ms); }

    /// `p`'s engine lost its connection and the network came back: the client asks it to join
    /// its channel afresh.
    void dropAndReconnect(Party& p, RtcManagerDelegate& rtc) {
        rtc.didConnectionStateChanged(KRConnectionState::disconnected);
        internals(p.client).networkClient()->didNetworkStateChanged(true);
        main->runPending();
    }

    /// `p`'s engine asks about `streamId` while the service fails every status question: it is
    /// answered a participant once the tries are spent.
    void answeredWhileTheServiceFails(Party& p, const std::string& streamId) {
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        std::optional<RtcRemoteStreamType> answer;
        const std::size_t replies = statusReplies->replies;
        rtc->didRequestToGetStreamSourceType(streamId, [&](RtcRemoteStreamType t) { answer = t; });
        for (std::size_t asked = 1; !answer; ++asked) {
            ASSERT_LE(asked, std::size_t{RoomEngineBackend::kStreamTypeQuestionTries});
            ASSERT_TRUE(main->runUntil(
                [&] { return answer || statusReplies->replies >= replies + asked; }, 10s));
            if (!answer) clock->advance(RoomEngineBackend::kStreamTypeQuestionInterval);
        }
        EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    }
    static void peerJoins(Party& p, const std::string& id) {
        if (const auto rtc = p.engine->delegate.lock()) {
            rtc->didRemoteParticipantJoinChannel(
                std::make_shared<RtcPeerMetaData>(id, false, false, false), [] {});
        }
    }
    /// The stream id of the share the service granted `sharer`.
    std::string grantShare(Party& sharer) {
        std::optional<bool> granted;
        sharer.client->shareScreenAPICall([&](bool ok) { granted = ok; });
        EXPECT_TRUE(main->runUntil([&] { return granted.has_value(); }, 10s));
        const auto room = service.room(kKrRoom);
        return room ? std::to_string(room->screenShareUid) : std::string();
    }
    bool polled(Party& p) {
        std::optional<bool> answered;
        internals(p.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
        return main->runUntil([&] { return answered.has_value(); }, 10s) && *answered;
    }

    std::size_t statusGets() const { return service.requestCount(R::getRoomConnectionStatus); }
    std::size_t statusPosts() const { return service.requestCount(R::postRoomConnectionStatus); }

    std::shared_ptr<platform::ManualClock> clock;
    std::shared_ptr<StatusReplyCounter> statusReplies = std::make_shared<StatusReplyCounter>();

private:
    std::uint64_t nextUid_ = 10001;
};

// ---- Set-up ----

TEST_F(KRClientMultiMediaTest, SetUpAsksConfigurationFirstThenLoginAndDetailsInTheOrderOfTheRole) {
    // The steps run one after the other, so a refused step shows which ones came before it.
    struct Case {
        const char* name;
        KRUserRole role;
        R refused;
        std::size_t configuration, details, login;
    };
    const KRUserRole host = KRUserRole::host(kHostToken);
    const std::vector<Case> cases{
        {"host, configuration refused", host, R::configuration, 1, 0, 0},
        {"host, login refused", host, R::guestLogin, 1, 0, 1},
        {"host, details refused", host, R::roomDetails, 1, 1, 1},
        {"guest, configuration refused", KRUserRole::speaker(), R::configuration, 1, 0, 0},
        {"guest, details refused", KRUserRole::speaker(), R::roomDetails, 1, 1, 0},
        {"guest, login refused", KRUserRole::speaker(), R::guestLogin, 1, 1, 1},
        {"audience, details refused", KRUserRole::audience(), R::roomDetails, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t configuration0 = service.requestCount(R::configuration);
        const std::size_t details0 = service.requestCount(R::roomDetails);
        const std::size_t login0 = service.requestCount(R::guestLogin);
        service.injectFault(c.refused, MeetingServiceFault::withStatus(500));
        Party p = makeParty(true);
        startJoin(p, kKrRoom, c.role);
        ASSERT_TRUE(main->runUntil([&] { return p.recorder->startsWith("join failed"); }, 10s));
        settle();
        EXPECT_EQ(service.requestCount(R::configuration) - configuration0, c.configuration);
        EXPECT_EQ(service.requestCount(R::roomDetails) - details0, c.details);
        EXPECT_EQ(service.requestCount(R::guestLogin) - login0, c.login);
        // The failure is told once, also when the join's time-out has passed, and no engine
        // was set up for a join that never got its room.
        clock->advance(ClientCore::kJoinTimeout + 1s);
        main->runPending();
        EXPECT_EQ(p.recorder->count("join failed"), 1u);
        EXPECT_FALSE(p.recorder->has("joined"));
        EXPECT_TRUE(p.engine->calls.empty());
        EXPECT_FALSE(internals(p.client).isJoining());
        service.clearFaults();
    }
}

TEST_F(KRClientMultiMediaTest, HostSuppliedEngineIsSetUpThenJoinedWithTheFourMeetingKeys) {
    for (const KRUserRole& role : {KRUserRole::host(kHostToken), KRUserRole::speaker()}) {
        SCOPED_TRACE(role.getToken().empty() ? "guest" : "host");
        const std::size_t postsBefore = statusPosts();
        Party p = engineAskedToJoin(role);
        const Lines expected{"configure", "rtm", "join"};
        EXPECT_EQ(p.engine->calls, expected);
        EXPECT_EQ(p.engine->delegate.lock(), internals(p.client).roomEngine().rtcDelegate());
        EXPECT_EQ(p.engine->rtm.lock(), internals(p.client).roomEngine().rtmDelegate());
        ASSERT_EQ(p.engine->configures.size(), 1u);
        EXPECT_TRUE(p.engine->configures.front().empty());
        ASSERT_EQ(p.engine->joins.size(), 1u);
        const boost::json::object& join = p.engine->joins.front();
        EXPECT_EQ(join.size(), 4u);
        ASSERT_TRUE(join.contains("meetingId") && join.contains("meetingPin") &&
                    join.contains("displayName") && join.contains("serverEnvironment"));
        EXPECT_EQ(join.at("meetingId").as_string(), kKrRoom);
        EXPECT_EQ(join.at("meetingPin").as_string(), "4321");
        EXPECT_EQ(join.at("displayName").as_string(), "Ann");
        ASSERT_TRUE(join.at("serverEnvironment").is_string());
        EXPECT_FALSE(join.at("serverEnvironment").as_string().empty());

        // Nothing of the join's end before the engine reports the local participant in.
        settle();
        EXPECT_EQ(statusPosts(), postsBefore);
        EXPECT_FALSE(p.recorder->has("joined"));
        EXPECT_TRUE(internals(p.client).isJoining());
        EXPECT_FALSE(internals(p.client).hasPollingTimers());
        p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return p.engine->called("leave"); }, 10s));
    }
}

TEST_F(KRClientMultiMediaTest, HostEngineAndClientAgreeOnTheStartingMicrophoneAndCamera) {
    // The host's engine is joined with no word on the starting state; once it confirmed the
    // join it is told what the client recorded, and the merged local user shows the same.
    struct Case {
        bool audioOn;
        bool videoOn;
    };
    for (const Case c : {Case{true, true}, Case{false, true}, Case{true, false}, Case{false, false}}) {
        SCOPED_TRACE(testing::Message() << "audio " << c.audioOn << ", video " << c.videoOn);
        Party p = makeParty(true);
        startJoin(p, kKrRoom, KRUserRole::speaker(), c.audioOn, c.videoOn);
        ASSERT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s));
        EXPECT_FALSE(p.engine->startsWith("mute"));
        // The engine reports the local peer with both open, whatever the options said.
        auto finished = reportLocalJoin(p);
        ASSERT_TRUE(main->runUntil([&] { return *finished == 1; }, 10s));
        EXPECT_EQ(p.engine->count(std::string("mute audio ") + (c.audioOn ? "off" : "on")), 1u)
            << testing::PrintToString(p.engine->calls);
        EXPECT_EQ(p.engine->count(std::string("mute video ") + (c.videoOn ? "off" : "on")), 1u)
            << testing::PrintToString(p.engine->calls);
        const KRCurrentRoom& room = internals(p.client).currentRoom();
        EXPECT_EQ(room.isCurrentUserAudioMuted, !c.audioOn);
        EXPECT_EQ(room.isCurrentUserVideoMuted, !c.videoOn);
        const auto me = p.client->getMeetingLocalUser();
        ASSERT_TRUE(me);
        EXPECT_EQ(me->audioTrack()->isMuted(), !c.audioOn);
        EXPECT_EQ(me->videoTrack()->isMuted(), !c.videoOn);

        // Back in the channel after a lost connection, the engine is told again.
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        dropAndReconnect(p, *rtc);
        ASSERT_EQ(p.engine->joins.size(), 2u);
        rtc->didLocalParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(p.uid, false, false, false), {});
        EXPECT_EQ(p.engine->count(std::string("mute audio ") + (c.audioOn ? "off" : "on")), 2u);
        EXPECT_EQ(p.engine->count(std::string("mute video ") + (c.videoOn ? "off" : "on")), 2u);
        leaveOnScriptedEngine(p);
    }
}

TEST_F(KRClientMultiMediaTest, AgoraRoomJoinsTheLibrarysEngineWithItsJoinDictionary) {
    struct Case {
        const char* name;
        KRUserRole role;
        bool audioOn, videoOn;
        int engineRole;
        bool audioMuted, videoMuted;
    };
    const std::vector<Case> cases{
        {"speaker", KRUserRole::speaker(), true, true, platform::MediaCodes::kRoleBroadcaster,
         false, false},
        {"speaker, camera and mic off", KRUserRole::speaker(), false, false,
         platform::MediaCodes::kRoleBroadcaster, true, true},
        {"audience", KRUserRole::audience(), true, true, platform::MediaCodes::kRoleAudience, true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = joinedOnAgora(c.role, c.audioOn, c.videoOn);
        const std::string uid = internals(p.client).currentRoom().userWebRtcId;
        ASSERT_FALSE(uid.empty());
        const auto media = bus->engineFor("room-1", std::stoull(uid));
        ASSERT_TRUE(media);
        // What the join dictionary carried, as the engine received it.
        const auto joins = media->callArguments(platform::MediaOperation::joinChannelByToken);
        ASSERT_EQ(joins.size(), 1u) << testing::PrintToString(media->callTexts());
        const std::string& join = joins.front();
        EXPECT_EQ(join.rfind("rtc-token-" + uid + ", room-1, , " + uid + ",", 0), 0u) << join;
        const auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
        EXPECT_NE(join.find("publishLocalAudio: " + flag(!c.audioMuted)), std::string::npos) << join;
        EXPECT_NE(join.find("publishLocalVideo: " + flag(!c.videoMuted)), std::string::npos) << join;
        // The messaging side logged in with its own token under the same uid and joined the
        // room's channel.
        const auto rtm = messaging->client(uid);
        ASSERT_TRUE(rtm);
        Lines rtmCalls;
        for (const auto& call : rtm->callLog()) rtmCalls.push_back(call.text());
        EXPECT_NE(std::find(rtmCalls.begin(), rtmCalls.end(),
                            "loginByToken(rtm-token, " + uid + ")"),
                  rtmCalls.end())
            << testing::PrintToString(rtmCalls);
        const auto inChannel = messaging->channelMembers("room-1");
        EXPECT_NE(std::find(inChannel.begin(), inChannel.end(), uid), inChannel.end());
        EXPECT_EQ(media->channelId(), "room-1");
        EXPECT_EQ(media->clientRole(), c.engineRole);
        EXPECT_EQ(internals(p.client).currentRoom().isCurrentUserAudioMuted, c.audioMuted);
        EXPECT_EQ(internals(p.client).currentRoom().isCurrentUserVideoMuted, c.videoMuted);
        EXPECT_EQ(media->isLocalAudioMuted(), c.audioMuted);
        EXPECT_EQ(media->isLocalVideoMuted(), c.videoMuted);
        p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return p.recorder->startsWith("left"); }, 10s));
    }
}

TEST_F(KRClientMultiMediaTest, LeaveDuringTheSetUpIsHeardAndTheClientCanJoinAgain) {
    // The leave comes while the first server call of the set-up is on its way, so no engine was
    // asked into a channel and none will report leaving one.
    struct Case {
        const char* name;
        const char* meetingId;
        bool hostEngine;
    };
    for (const Case& c : {Case{"library's engine", kAgoraRoom, false},
                          Case{"host's engine", kKrRoom, true}}) {
        SCOPED_TRACE(c.name);
        Party p = makeParty(c.hostEngine);
        startJoin(p, c.meetingId, KRUserRole::speaker());
        p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return p.recorder->startsWith("left"); }, 10s))
            << testing::PrintToString(p.recorder->lines);
        settle();
        EXPECT_EQ(p.recorder->count("left"), 1u);
        EXPECT_FALSE(p.recorder->startsWith("join failed"));
        EXPECT_FALSE(internals(p.client).isJoining());
        if (p.engine) {
            EXPECT_FALSE(p.engine->called("join"));
            EXPECT_TRUE(p.client->rtcEngineManager() == p.engine);  // kept for the next meeting
        }
        // Nothing of the abandoned join holds the client back from the next one.
        p.recorder->lines.clear();
        startJoin(p, c.meetingId, KRUserRole::speaker());
        if (p.engine) {
            ASSERT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s))
                << testing::PrintToString(p.recorder->lines);
            reportLocalJoin(p);
        }
        EXPECT_TRUE(main->runUntil([&] { return p.recorder->has("joined"); }, 10s))
            << testing::PrintToString(p.recorder->lines);
    }
}

TEST_F(KRClientMultiMediaTest, KrMediaRoomWithoutAHostEngineFailsOnceAtTheTimeOut) {
    Party p = makeParty(false);
    startJoin(p, kKrRoom, KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::guestLogin) == 1; }, 10s));
    settle();
    EXPECT_EQ(p.client->rtcEngineManager(), nullptr);
    EXPECT_TRUE(internals(p.client).isJoining());
    EXPECT_EQ(statusPosts(), 0u);
    clock->advance(ClientCore::kJoinTimeout);
    main->runPending();
    clock->advance(ClientCore::kJoinTimeout);
    main->runPending();
    EXPECT_EQ(p.recorder->count("join failed"), 1u);
    EXPECT_FALSE(p.recorder->has("joined"));
    EXPECT_FALSE(internals(p.client).isJoining());
}

// ---- The engine's waits ----

TEST_F(KRClientMultiMediaTest, LocalJoinCompletionRunsExactlyOnceWhateverEndsTheJoin) {
    enum class End {
        success,
        statusPostRefused,
        timedOutBeforeTheReport,
        timedOutDuringTheStatusRead,
        timedOutDuringTheStatusPost,
        leftDuringTheStatusPost,
    };
    struct Case {
        const char* name;
        End end;
        bool joined;
        bool failed;
        bool channelLeft;
        bool left;  // the leave finished without the engine's report
        // Leave calls: the service listed the user as connected once the status post went
        // through, and hears of the end of the join or of the leave.
        std::size_t serverLeaves;
    };
    const std::vector<Case> cases{
        {"success", End::success, true, false, false, false, 0},
        {"status post refused", End::statusPostRefused, false, true, true, false, 0},
        {"timed out before the engine reported", End::timedOutBeforeTheReport, false, true, true,
         false, 0},
        {"timed out while the room status was read", End::timedOutDuringTheStatusRead, false, true,
         true, false, 1},
        // The service took the post before its answer came: it lists the user all the same.
        {"timed out while the status post was on its way", End::timedOutDuringTheStatusPost,
         false, true, true, false, 1},
        {"left while the status post was on its way", End::leftDuringTheStatusPost, false, false,
         true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = engineAskedToJoin();
        const std::size_t postsBefore = statusPosts();
        const std::size_t leavesBefore = service.requestCount(R::leaveMeeting);
        std::shared_ptr<int> finished;
        switch (c.end) {
            case End::success:
                finished = reportLocalJoin(p);
                break;
            case End::statusPostRefused:
                service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(500));
                finished = reportLocalJoin(p);
                break;
            case End::timedOutBeforeTheReport:
                clock->advance(ClientCore::kJoinTimeout);
                main->runPending();
                ASSERT_TRUE(p.recorder->startsWith("join failed"));
                finished = reportLocalJoin(p);
                // A join that is over posts nothing for the engine's late report.
                EXPECT_EQ(statusPosts(), postsBefore);
                break;
            case End::timedOutDuringTheStatusRead: {
                const std::size_t getsBefore = statusGets();
                service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(300ms));
                finished = reportLocalJoin(p);
                ASSERT_TRUE(main->runUntil([&] { return statusGets() > getsBefore; }, 10s));
                clock->advance(ClientCore::kJoinTimeout);
                main->runPending();
                ASSERT_TRUE(p.recorder->startsWith("join failed"));
                break;
            }
            case End::timedOutDuringTheStatusPost:
                service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::delayed(300ms));
                finished = reportLocalJoin(p);
                ASSERT_TRUE(main->runUntil([&] { return statusPosts() > postsBefore; }, 10s));
                clock->advance(ClientCore::kJoinTimeout);
                main->runPending();
                ASSERT_TRUE(p.recorder->startsWith("join failed"));
                break;
            case End::leftDuringTheStatusPost:
                service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::delayed(300ms));
                finished = reportLocalJoin(p);
                p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
                break;
        }
        ASSERT_TRUE(main->runUntil([&] { return *finished > 0; }, 10s));
        settle();
        clock->advance(ClientCore::kJoinTimeout + 1s);
        main->runPending();
        settle();
        EXPECT_EQ(*finished, 1);
        EXPECT_EQ(p.recorder->has("joined"), c.joined);
        EXPECT_EQ(p.recorder->count("join failed"), c.failed ? 1u : 0u);
        EXPECT_EQ(p.engine->called("leave"), c.channelLeft);
        EXPECT_EQ(service.requestCount(R::leaveMeeting) - leavesBefore, c.serverLeaves);
        // The engine reported no leave: only a leave the host asked for finishes, once, at the
        // end of the wait for that report.
        EXPECT_EQ(std::count_if(p.recorder->lines.begin(), p.recorder->lines.end(),
                                [](const std::string& l) { return l.rfind("left", 0) == 0; }),
                  c.left ? 1 : 0);
        EXPECT_FALSE(internals(p.client).isJoining());
        if (!c.joined) {
            EXPECT_FALSE(internals(p.client).hasPollingTimers());
        }
        service.clearFaults();
        if (c.joined) {
            leaveOnScriptedEngine(p);
        }
    }
}

TEST_F(KRClientMultiMediaTest, ALeaveTheEngineNeverReportedCannotEndTheNextMeetingLater) {
    Party p = joinedOnScriptedEngine();
    // The first meeting's receiver, as an engine that still owes its leave report may hold it.
    const auto stale = p.engine->delegate.lock();
    ASSERT_TRUE(stale);
    p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return p.engine->called("leave"); }, 10s));
    clock->advance(ClientCore::kLeaveReportWait);
    main->runPending();
    ASSERT_TRUE(p.recorder->startsWith("left"));
    EXPECT_EQ(stale.use_count(), 1) << "the client still holds the old receiver";

    const auto joins = p.engine->count("join");
    startJoin(p, kKrRoom, KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return p.engine->count("join") > joins; }, 10s));
    auto finished = reportLocalJoin(p);
    ASSERT_TRUE(main->runUntil([&] { return *finished == 1; }, 10s));
    ASSERT_EQ(p.recorder->count("joined"), 2u);
    // The old channel's report comes at last: the meeting under way goes on.
    stale->didLocalParticipantLeaveChannel(KRUserLeftReason::leaveMeeting(), {});
    settle();
    EXPECT_EQ(internals(p.client).meetingState(), ClientCore::MeetingState::inMeeting);
    EXPECT_EQ(std::count_if(p.recorder->lines.begin(), p.recorder->lines.end(),
                            [](const std::string& l) { return l.rfind("left", 0) == 0; }),
              1);
    leaveOnScriptedEngine(p);
}

TEST_F(KRClientMultiMediaTest, EngineWaitsEndEvenWhenTheClientIsGone) {
    Party p = joinedOnScriptedEngine();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    std::weak_ptr<KRClient> gone = p.client;
    p.client.reset();
    main->runPending();
    ASSERT_TRUE(gone.expired());

    const auto peer = std::make_shared<RtcPeerMetaData>("777", false, false, false);
    int remoteJoin = 0, localLeave = 0, localJoin = 0;
    std::optional<RtcRemoteStreamType> answer;
    rtc->didRemoteParticipantJoinChannel(peer, [&] { ++remoteJoin; });
    rtc->didLocalParticipantLeaveChannel(KRUserLeftReason::leaveMeeting(), [&] { ++localLeave; });
    rtc->didLocalParticipantJoinChannel(peer, [&] { ++localJoin; });
    rtc->didRequestToGetStreamSourceType("424242", [&](RtcRemoteStreamType t) { answer = t; });
    main->runPending();
    EXPECT_EQ(remoteJoin, 1);
    EXPECT_EQ(localLeave, 1);
    EXPECT_EQ(localJoin, 1);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    EXPECT_EQ(answer->participantId(), "424242");
}

// ---- The question about unknown streams ----

TEST_F(KRClientMultiMediaTest, UnknownStreamIsAskedAboutOnTheClockThenTakenAsAUser) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    const std::size_t before = statusGets();
    const std::size_t repliesBefore = statusReplies->replies;
    std::optional<RtcRemoteStreamType> answer;
    rtc->didRequestToGetStreamSourceType("424242", [&](RtcRemoteStreamType t) { answer = t; });
    for (int asked = 1; asked <= RoomEngineBackend::kStreamTypeQuestionTries; ++asked) {
        SCOPED_TRACE(asked);
        ASSERT_TRUE(main->runUntil([&] { return statusGets() == before + asked; }, 10s));
        if (asked == RoomEngineBackend::kStreamTypeQuestionTries) break;
        // The reply is handled (and the next try scheduled) before the clock moves.
        ASSERT_TRUE(main->runUntil(
            [&] { return statusReplies->replies >= repliesBefore + asked; }, 10s));
        // Until the clock moves on no further question goes out, and none is answered yet.
        settle();
        EXPECT_EQ(statusGets(), before + asked);
        EXPECT_FALSE(answer);
        clock->advance(RoomEngineBackend::kStreamTypeQuestionInterval - 1ms);
        settle();
        EXPECT_EQ(statusGets(), before + asked);
        clock->advance(1ms);
    }
    ASSERT_TRUE(main->runUntil([&] { return answer.has_value(); }, 10s));
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    EXPECT_EQ(answer->participantId(), "424242");
    clock->advance(RoomEngineBackend::kStreamTypeQuestionInterval * 2);
    settle();
    EXPECT_EQ(statusGets(), before + RoomEngineBackend::kStreamTypeQuestionTries);

    // After the meeting has ended the stream is taken as a user without a question.
    leaveOnScriptedEngine(p);
    settle();
    const std::size_t afterLeave = statusGets();
    answer.reset();
    rtc->didRequestToGetStreamSourceType("424243", [&](RtcRemoteStreamType t) { answer = t; });
    main->runPending();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    settle();
    EXPECT_EQ(statusGets(), afterLeave);
}

TEST_F(KRClientMultiMediaTest, QuestionsStopWhenTheMeetingEndsBetweenThem) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    const std::size_t before = statusGets();
    int answers = 0;
    std::optional<RtcRemoteStreamType> answer;
    rtc->didRequestToGetStreamSourceType("424242", [&](RtcRemoteStreamType t) {
        ++answers;
        answer = t;
    });
    ASSERT_TRUE(main->runUntil([&] { return statusGets() == before + 1; }, 10s));
    settle();
    leaveOnScriptedEngine(p);
    settle();
    const std::size_t afterLeave = statusGets();
    clock->advance(RoomEngineBackend::kStreamTypeQuestionInterval * RoomEngineBackend::kStreamTypeQuestionTries);
    main->runPending();
    settle();
    EXPECT_EQ(statusGets(), afterLeave);
    EXPECT_EQ(answers, 1);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
}

TEST_F(KRClientMultiMediaTest, KnownStreamsAreAnsweredWithoutWaitingForTheClock) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();

    // A participant the engine already reported: a user, with no question asked.
    rtc->didRemoteParticipantJoinChannel(std::make_shared<RtcPeerMetaData>("777", false, false, false),
                                         {});
    std::size_t before = statusGets();
    std::optional<RtcRemoteStreamType> answer;
    rtc->didRequestToGetStreamSourceType("777", [&](RtcRemoteStreamType t) { answer = t; });
    main->runPending();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    EXPECT_EQ(answer->participantId(), "777");
    settle();
    EXPECT_EQ(statusGets(), before);

    // A participant the room told of (by its socket or a status reply) whose stream the engine
    // has not reported yet: at most one question, no waiting.
    Party ben = joinedOnScriptedEngine();
    settle();
    before = statusGets();
    answer.reset();
    rtc->didRequestToGetStreamSourceType(ben.uid, [&](RtcRemoteStreamType t) { answer = t; });
    ASSERT_TRUE(main->runUntil([&] { return answer.has_value(); }, 10s));
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    EXPECT_EQ(answer->participantId(), ben.uid);
    EXPECT_LE(statusGets(), before + 1);

    // A stream the status reply names as the room's screen share: one question, no waiting.
    bool shared = false;
    p.client->shareScreenAPICall([&](bool ok) { shared = ok; });
    ASSERT_TRUE(main->runUntil([&] { return shared; }, 10s));
    const auto room = service.room(kKrRoom);
    ASSERT_TRUE(room && room->screenShareUid != 0);
    settle();
    before = statusGets();
    answer.reset();
    rtc->didRequestToGetStreamSourceType(std::to_string(room->screenShareUid),
                                         [&](RtcRemoteStreamType t) { answer = t; });
    ASSERT_TRUE(main->runUntil([&] { return answer.has_value(); }, 10s));
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::screenShare);
    EXPECT_EQ(answer->participantId(), room->screenSharerUri);
    EXPECT_EQ(statusGets(), before + 1);
}

// ---- Streams shown as participants while the service could not name them ----

TEST_F(KRClientMultiMediaTest, AStandInAddedWhileAQuestionIsOutIsAskedAboutAgain) {
    Party p = joinedOnScriptedEngine();
    Party ben = joinedOnScriptedEngine();
    settle();
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    answeredWhileTheServiceFails(p, "424242");
    peerJoins(p, "424242");
    // The question about that stand-in goes out once the service is back, but is slow to come
    // back; meanwhile Ben's share stream comes and its own questions fail.
    service.clearFaults();
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(1500ms).times(1));
    service.injectFault(R::getRoomConnectionStatus,
                        MeetingServiceFault::withStatus(503).times(RoomEngineBackend::kStreamTypeQuestionTries));
    const std::size_t before = statusGets();
    clock->advance(RetryBackOff::kFirstDelay);
    ASSERT_TRUE(main->runUntil([&] { return statusGets() == before + 1; }, 10s));
    const std::string shareId = grantShare(ben);
    answeredWhileTheServiceFails(p, shareId);
    peerJoins(p, shareId);
    // The slow reply does not name the share, which came after it was asked: that stream is
    // asked about again, and the reply that names it makes it the share.
    ASSERT_TRUE(main->runUntil([&] { return p.recorder->has("remote share started by " + ben.uid); }, 10s));
    settle();
    EXPECT_EQ(p.recorder->count("remote joined " + shareId), 1u);
    EXPECT_EQ(p.recorder->count("remote left " + shareId), 1u);
    EXPECT_EQ(p.recorder->count("remote share started"), 1u);
    EXPECT_EQ(p.recorder->count("remote left 424242"), 0u);
}

TEST_F(KRClientMultiMediaTest, AStreamAnsweredAsAParticipantIsAStandInOnlyOnceItsPeerIsMade) {
    Party p = joinedOnScriptedEngine();
    Party ben = joinedOnScriptedEngine();
    settle();
    peerJoins(p, ben.uid);
    const std::string shareId = grantShare(ben);
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    // A stream that left before the engine made its peer is neither shown nor asked about.
    answeredWhileTheServiceFails(p, "424242");
    std::size_t before = statusGets();
    for (int i = 0; i < 4; ++i) {  // well within the polling interval
        clock->advance(4s);
        settle();
    }
    EXPECT_EQ(statusGets(), before);

    // The service names the share before the engine has made its peer: the peer, once made,
    // becomes the share.
    answeredWhileTheServiceFails(p, shareId);
    service.clearFaults();
    ASSERT_TRUE(polled(p));
    peerJoins(p, shareId);
    main->runPending();
    EXPECT_EQ(p.recorder->count("remote joined " + shareId), 1u);
    EXPECT_EQ(p.recorder->count("remote left " + shareId), 1u);
    EXPECT_EQ(p.recorder->count("remote share started by " + ben.uid), 1u);
    // Another's share also stops the engine's own.
    EXPECT_EQ(p.engine->count("stop share"), 1u);
    EXPECT_EQ(p.recorder->count("remote joined 424242"), 0u);
}

TEST_F(KRClientMultiMediaTest, AStandInOfALaterOutageIsAskedAboutAfterTheFirstWaitAgain) {
    Party p = joinedOnScriptedEngine();
    settle();
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    const auto askedWithin = [&](platform::Clock::duration wait) {
        const std::size_t before = statusGets();
        const std::size_t replies = statusReplies->replies;
        clock->advance(wait);
        return main->runUntil([&] { return statusReplies->replies > replies; }, 2s) &&
               statusGets() == before + 1;
    };
    answeredWhileTheServiceFails(p, "424242");
    peerJoins(p, "424242");
    for (const int step : {1, 2, 3}) ASSERT_TRUE(askedWithin(RetryBackOff::ceiling(step))) << step;
    // That stream leaves; the service still fails when the next one comes.
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    rtc->didRemoteParticipantLeaveChannel("424242", KRUserLeftReason::leaveMeeting());
    answeredWhileTheServiceFails(p, "424243");
    peerJoins(p, "424243");
    EXPECT_TRUE(askedWithin(RetryBackOff::ceiling(1)));
}

TEST_F(KRClientMultiMediaTest, AClosedShareTakesOnlyItsOwnTrackAndIsToldStoppedOnce) {
    Party p = joinedOnScriptedEngine();
    Party ben = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    const auto benPeer = std::make_shared<RtcPeerMetaData>(ben.uid, false, false, false);
    rtc->didRemoteParticipantJoinChannel(benPeer, [] {});
    // Ben's first share was a stand-in the service named; his next one the engine brings while
    // the first one's stream is still there.
    const std::string first = grantShare(ben);
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    answeredWhileTheServiceFails(p, first);
    peerJoins(p, first);
    service.clearFaults();
    ASSERT_TRUE(polled(p));
    ASSERT_EQ(p.recorder->count("remote share started by " + ben.uid), 1u);
    rtc->didAuxiliaryVideoTrackAdded(benPeer, std::make_shared<RtcAuxiliaryTrack>("5002", ben.uid));
    main->runPending();
    ASSERT_EQ(p.recorder->count("remote share started by " + ben.uid), 2u);

    const auto shareIds = [&] {
        Lines ids;
        for (const auto& t : internals(p.client).meetingUsersManager().getScreenShareTracks()) {
            ids.push_back(t->id());
        }
        return ids;
    };
    rtc->didRemoteParticipantLeaveChannel(first, KRUserLeftReason::leaveMeeting());
    main->runPending();
    EXPECT_EQ(shareIds(), Lines{"5002"});
    EXPECT_EQ(p.recorder->count("remote share stopped"), 1u);

    // Ben leaves: his share closes with him, and the engine's later word that his track went
    // tells nothing more.
    rtc->didRemoteParticipantLeaveChannel(ben.uid, KRUserLeftReason::leaveMeeting());
    rtc->didAuxiliaryVideoTrackRemoved(benPeer);
    main->runPending();
    settle();
    EXPECT_TRUE(shareIds().empty());
    EXPECT_EQ(p.recorder->count("remote share stopped"), 2u);
}

TEST_F(KRClientMultiMediaTest, AShareClosedWithItsDroppedOwnerShowsAgainOnlyWhileItsStreamStays) {
    using Peer = RtcManagerDelegate::Peer;
    const std::string owner = "30001";
    const std::string stream = "5002";
    struct Case {
        const char* name;
        KRUserLeftReason ownerGone;
        /// What happens while the owner is away (may be nothing).
        std::function<void(RtcManagerDelegate&, const Peer&)> meanwhile;
        /// The engine attaches the stream to the returned owner's peer itself.
        bool engineReattaches;
        std::size_t startsAfterReturn;
    };
    const auto nothing = [](RtcManagerDelegate&, const Peer&) {};
    const std::vector<Case> cases{
        {"the owner's media returns", KRUserLeftReason::networkDropped(), nothing, false, 2},
        {"the engine brings the track back too", KRUserLeftReason::networkDropped(), nothing, true, 2},
        {"the owner left the meeting", KRUserLeftReason::leaveMeeting(), nothing, false, 1},
        {"the share's stream left meanwhile", KRUserLeftReason::networkDropped(),
         [&](RtcManagerDelegate& rtc, const Peer&) {
             rtc.didRemoteParticipantLeaveChannel(stream, KRUserLeftReason::leaveMeeting());
         },
         false, 1},
        {"the engine took the track away meanwhile", KRUserLeftReason::networkDropped(),
         [](RtcManagerDelegate& rtc, const Peer& peer) { rtc.didAuxiliaryVideoTrackRemoved(peer); },
         false, 1},
        {"the local engine lost the channel meanwhile", KRUserLeftReason::networkDropped(),
         [](RtcManagerDelegate& rtc, const Peer&) {
             rtc.didConnectionStateChanged(KRConnectionState::reconnecting);
             rtc.didConnectionStateChanged(KRConnectionState::connected);
         },
         false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        const std::string started = "remote share started by " + owner;
        const auto peer = std::make_shared<RtcPeerMetaData>(owner, false, false, false);
        rtc->didRemoteParticipantJoinChannel(peer, [] {});
        rtc->didAuxiliaryVideoTrackAdded(peer, std::make_shared<RtcAuxiliaryTrack>(stream, owner));
        main->runPending();
        ASSERT_EQ(p.recorder->count(started), 1u);
        rtc->didRemoteParticipantLeaveChannel(owner, c.ownerGone);
        main->runPending();
        ASSERT_EQ(p.recorder->count("remote share stopped"), 1u);
        c.meanwhile(*rtc, peer);

        const auto back = std::make_shared<RtcPeerMetaData>(owner, false, false, false);
        rtc->didRemoteParticipantJoinChannel(back, [] {});
        if (c.engineReattaches) {
            rtc->didAuxiliaryVideoTrackAdded(back, std::make_shared<RtcAuxiliaryTrack>(stream, owner));
        }
        main->runPending();
        EXPECT_EQ(p.recorder->count(started), c.startsAfterReturn);
        EXPECT_EQ(p.recorder->count("remote share stopped"), 1u);
        ASSERT_EQ(internals(p.client).meetingUsersManager().getScreenShareTracks().size(),
                  c.startsAfterReturn - 1);
        if (c.startsAfterReturn == 1) continue;

        // The share's stream goes: its end is told once, whichever way the engine reports it.
        if (c.engineReattaches) {
            rtc->didAuxiliaryVideoTrackRemoved(back);
        } else {
            // The engine holds no track for it: it is answered as a participant's stream, whose
            // leave is what comes.
            std::optional<RtcRemoteStreamType> answer;
            rtc->didRequestToGetStreamSourceType(stream, [&](RtcRemoteStreamType t) { answer = t; });
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
            rtc->didRemoteParticipantLeaveChannel(stream, KRUserLeftReason::leaveMeeting());
        }
        main->runPending();
        EXPECT_EQ(p.recorder->count("remote share stopped"), 2u);
        EXPECT_TRUE(internals(p.client).meetingUsersManager().getScreenShareTracks().empty());
        EXPECT_EQ(p.recorder->count("remote left " + stream), 0u);
        // Neither its owner's next drop and return nor the engine's late word brings it back.
        rtc->didRemoteParticipantLeaveChannel(owner, KRUserLeftReason::networkDropped());
        rtc->didRemoteParticipantJoinChannel(back, [] {});
        rtc->didAuxiliaryVideoTrackRemoved(back);
        main->runPending();
        EXPECT_EQ(p.recorder->count(started), 2u);
        EXPECT_EQ(p.recorder->count("remote share stopped"), 2u);
    }
}

// ---- Role change reported by the engine ----

TEST_F(KRClientMultiMediaTest, RoleChangeFromTheEngineIsToldPostedAndMutes) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    struct Step {
        bool toAudience;
        const char* event;
        const char* participantType;
    };
    for (const Step& step : {Step{true, "moved to audience", "audience"},
                             Step{false, "moved to participant", "speaker"}}) {
        SCOPED_TRACE(step.event);
        const std::size_t posts = statusPosts();
        rtc->didCurrentParticipantRoleChanged(step.toAudience);
        EXPECT_EQ(p.recorder->count(step.event), 1u);
        // The engine made the change itself: it is not asked to make it again.
        EXPECT_FALSE(p.engine->startsWith("role"));
        ASSERT_TRUE(main->runUntil([&] { return statusPosts() == posts + 1; }, 10s));
        ASSERT_TRUE(main->runUntil(
            [&] {
                const auto me = service.participant(kKrRoom, p.uid);
                return me && me->participantType == step.participantType;
            },
            10s));
        if (step.toAudience) {
            EXPECT_TRUE(internals(p.client).currentRoom().isCurrentUserAudioMuted);
            EXPECT_TRUE(internals(p.client).currentRoom().isCurrentUserVideoMuted);
            const auto me = service.participant(kKrRoom, p.uid);
            EXPECT_FALSE(me->isMicOn);
            EXPECT_FALSE(me->isCameraOn);
        }
    }
}

TEST_F(KRClientMultiMediaTest, AStatusReplyAskedBeforeAPeerCameBackFromTheAudienceKeepsItASpeaker) {
    for (const bool comesBack : {false, true}) {
        SCOPED_TRACE(comesBack ? "the peer comes back" : "the peer stays in the audience");
        Party p = joinedOnScriptedEngine();
        Party ben = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        rtc->didRemoteParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(ben.uid, false, false, false), [] {});
        ASSERT_TRUE(polled(p));
        ASSERT_TRUE(p.client->getUser(ben.uid) && p.client->getUser(ben.uid)->isSpeaker());

        // A question goes out; before its reply the engine moves Ben to the audience (and,
        // in one case, back). The service, never told of the move, still lists him a speaker.
        std::optional<bool> answered;
        internals(p.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
        rtc->didRemoteParticipantLeaveChannel(ben.uid, KRUserLeftReason::becomeAudience());
        if (comesBack) {
            rtc->didRemoteParticipantJoinChannel(
                std::make_shared<RtcPeerMetaData>(ben.uid, false, false, false), [] {});
        }
        ASSERT_TRUE(main->runUntil([&] { return answered.has_value(); }, 10s));
        ASSERT_TRUE(*answered);
        const auto user = p.client->getUser(ben.uid);
        ASSERT_TRUE(user);
        EXPECT_EQ(user->isSpeaker(), comesBack);
    }
}

TEST_F(KRClientMultiMediaTest, APeerBackFromTheAudienceIsASpeakerAtOnceAndAnOlderReplyKeepsIt) {
    // Whether a room push names Ben a speaker before the engine brings him back from the audience.
    for (const bool byEngine : {true, false}) {
        SCOPED_TRACE(byEngine ? "the engine brings him back" : "a room push names him a speaker first");
        Party p = joinedOnScriptedEngine();
        Party ben = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        rtc->didRemoteParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(ben.uid, false, false, false), [] {});
        ASSERT_TRUE(polled(p));
        const auto& records = internals(p.client).meetingUsersManager().metaData();
        const auto held = std::find_if(records.begin(), records.end(),
                                       [&](const auto& r) { return r.participantId == ben.uid; });
        ASSERT_NE(held, records.end());
        KRMeetingParticipant pushed = *held;

        std::optional<bool> answered;
        internals(p.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
        rtc->didRemoteParticipantLeaveChannel(ben.uid, KRUserLeftReason::becomeAudience());
        const auto speaks = [&] {
            const auto user = p.client->getUser(ben.uid);
            return user && user->isSpeaker();
        };
        ASSERT_FALSE(speaks());
        if (!byEngine) {
            // The app was told he left for the audience, and his stream is not back.
            pushed.participantType = KRMeetingParticipantType::speaker;
            internals(p.client).roomSync().applyParticipantRecords({pushed});
            EXPECT_FALSE(speaks()) << "before the engine brought him back";
        }
        rtc->didRemoteParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(ben.uid, false, false, false), [] {});
        EXPECT_TRUE(speaks()) << "before any reply";
        ASSERT_TRUE(main->runUntil([&] { return answered.has_value(); }, 10s));
        ASSERT_TRUE(*answered);
        EXPECT_TRUE(speaks()) << "after the older reply";
    }
}

TEST_F(KRClientMultiMediaTest, AHostEngineAnsweringInsideTheMuteIsHeardAfterTheCall) {
    /// Reports the local microphone and camera to the client from inside the mute itself.
    class AnsweringEngine final : public RecordingEngine {
    public:
        std::string localId;  // empty: quiet
        bool audioMuted = false;
        bool videoMuted = false;
        void muteUnmuteLocalAudio(bool muted) override {
            RecordingEngine::muteUnmuteLocalAudio(muted);
            audioMuted = muted;
            answer([&](RtcManagerDelegate& d, const RtcManagerDelegate::Peer& peer) {
                d.didLocalParticipantAudioStatusUpdated(peer, muted);
            });
        }
        void muteUnmuteLocalVideo(bool muted) override {
            RecordingEngine::muteUnmuteLocalVideo(muted);
            videoMuted = muted;
            answer([&](RtcManagerDelegate& d, const RtcManagerDelegate::Peer& peer) {
                d.didLocalParticipantVideoStatusUpdated(peer, muted);
            });
        }

    private:
        void answer(
            const std::function<void(RtcManagerDelegate&, const RtcManagerDelegate::Peer&)>& report) {
            const auto d = delegate.lock();
            if (!d || localId.empty()) return;
            report(*d, std::make_shared<RtcPeerMetaData>(localId, audioMuted, videoMuted, false));
        }
    };
    Party p = makeParty(false);
    const auto engine = std::make_shared<AnsweringEngine>();
    p.engine = engine;
    p.client->setRtcEngineManager(engine);
    startJoin(p, kKrRoom, KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return engine->called("join"); }, 10s));
    auto finished = reportLocalJoin(p);
    ASSERT_TRUE(main->runUntil([&] { return *finished == 1; }, 10s));
    settle();
    engine->localId = p.uid;
    const struct {
        const char* name;
        std::function<void(KRClient&)> call;
        const char* heard;
    } rows[] = {
        {"microphone off", [](KRClient& c) { c.muteLocalAudio(true); }, "mic off"},
        {"microphone on", [](KRClient& c) { c.muteLocalAudio(false); }, "mic on"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = p.recorder->count(row.heard);
        row.call(*p.client);
        EXPECT_EQ(p.recorder->count(row.heard), before) << "told inside the host's call";
        main->runPending();
        EXPECT_GE(p.recorder->count(row.heard), before + 1);
    }
}

// ---- The network comes back ----

TEST_F(KRClientMultiMediaTest, NetworkReturnRejoinsOnlyAHostEngineThatWaitsForIt) {
    struct Case {
        const char* name;
        std::vector<KRConnectionState> engineReports;
        bool leftBefore;
        bool networkBack;
        bool rejoins;
    };
    const std::vector<Case> cases{
        {"engine disconnected, network back", {KRConnectionState::disconnected}, false, true, true},
        {"engine never disconnected", {}, false, true, false},
        {"engine reconnected on its own",
         {KRConnectionState::disconnected, KRConnectionState::connected}, false, true, false},
        {"network still down", {KRConnectionState::disconnected}, false, false, false},
        {"meeting left before the network came back", {KRConnectionState::disconnected}, true,
         true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        for (const auto state : c.engineReports) rtc->didConnectionStateChanged(state);
        if (c.leftBefore) leaveOnScriptedEngine(p);
        internals(p.client).networkClient()->didNetworkStateChanged(c.networkBack);
        main->runPending();
        ASSERT_EQ(p.engine->joins.size(), c.rejoins ? 2u : 1u);
        if (c.rejoins) {
            EXPECT_EQ(p.engine->joins.back(), p.engine->joins.front());
        }
        internals(p.client).networkClient()->didNetworkStateChanged(true);
        if (!c.leftBefore) leaveOnScriptedEngine(p);
    }

    // The rejoined engine reports the local participant in again: the meeting goes on.
    {
        Party p = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        dropAndReconnect(p, *rtc);
        ASSERT_EQ(p.engine->joins.size(), 2u);
        const std::size_t views = p.engine->count("local view");
        int finished = 0;
        rtc->didLocalParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(p.uid, false, false, false), [&] { ++finished; });
        rtc->didConnectionStateChanged(KRConnectionState::connected);
        ASSERT_TRUE(main->runUntil([&] { return finished > 0; }, 10s));
        settle();
        EXPECT_EQ(p.engine->count("local view"), views + 1);
        EXPECT_EQ(finished, 1);
        EXPECT_FALSE(p.engine->called("leave"));
        EXPECT_EQ(p.recorder->count("joined"), 1u);
        EXPECT_FALSE(p.recorder->startsWith("left"));
        EXPECT_FALSE(p.recorder->startsWith("join failed"));
        EXPECT_TRUE(internals(p.client).hasPollingTimers());
        ASSERT_TRUE(p.client->getMeetingLocalUser());
        EXPECT_EQ(p.client->getMeetingLocalUser()->id(), p.uid);
        const auto me = service.participant(kKrRoom, p.uid);
        ASSERT_TRUE(me);
        EXPECT_TRUE(me->isConnected);
        leaveOnScriptedEngine(p);
    }

    // The library's own engine reconnects by itself: no second join of it.
    Party agora = joinedOnAgora();
    const auto media = bus->engineFor("room-1", std::stoull(internals(agora.client).currentRoom().userWebRtcId));
    ASSERT_TRUE(media);
    const auto joinsOf = [&] {
        const auto log = media->callLog();
        return std::count_if(log.begin(), log.end(), [](const platform::MediaCall& call) {
            return call.operation == platform::MediaOperation::joinChannelByToken;
        });
    };
    const auto joins = joinsOf();
    internals(agora.client).roomEngine().rtcDelegate()->didConnectionStateChanged(KRConnectionState::disconnected);
    internals(agora.client).networkClient()->didNetworkStateChanged(true);
    main->runPending();
    EXPECT_EQ(joinsOf(), joins);
    EXPECT_FALSE(internals(agora.client).roomEngine().isWaitingToBeReconnect());
}

TEST_F(KRClientMultiMediaTest, AnEngineBackInTheChannelTakesTheRoleTheMeetingHolds) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    rtc->didCurrentParticipantRoleChanged(true);
    ASSERT_EQ(p.recorder->count("moved to audience"), 1u);
    dropAndReconnect(p, *rtc);
    ASSERT_EQ(p.engine->joins.size(), 2u);
    // The host's engine joined afresh, as engines of its kind do, as a speaker.
    rtc->didLocalParticipantJoinChannel(
        std::make_shared<RtcPeerMetaData>(p.uid, false, false, false), {});
    rtc->didConnectionStateChanged(KRConnectionState::connected);
    settle();
    EXPECT_EQ(p.engine->count("role audience"), 1u);
    EXPECT_FALSE(p.engine->called("role participant"));
    // Its confirmation of the role the meeting already holds is no news.
    rtc->didCurrentParticipantRoleChanged(true);
    EXPECT_EQ(p.recorder->count("moved to audience"), 1u);
    EXPECT_TRUE(internals(p.client).isLocalUserInAudienceMode());
    leaveOnScriptedEngine(p);
}

TEST_F(KRClientMultiMediaTest, TheLocalUserIsASpeakerAgainAsSoonAsTheMoveBackIsConfirmed) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    ASSERT_TRUE(main->runUntil([&] { return p.client->getMeetingLocalUser() != nullptr; }, 5s));
    rtc->didCurrentParticipantRoleChanged(true);
    EXPECT_FALSE(p.client->getMeetingLocalUser()->isSpeaker());
    // Before the service has the move back, and before any reply of it.
    rtc->didCurrentParticipantRoleChanged(false);
    EXPECT_EQ(p.recorder->count("moved to participant"), 1u);
    EXPECT_TRUE(p.client->getMeetingLocalUser()->isSpeaker());
    leaveOnScriptedEngine(p);
}

TEST_F(KRClientMultiMediaTest, AMoveBetweenAHostsEnginesReturnAndItsFreshJoinIsAskedAtTheJoin) {
    Party p = joinedOnScriptedEngine();
    settle();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    dropAndReconnect(p, *rtc);
    ASSERT_EQ(p.engine->joins.size(), 2u);
    // Connected again, but not yet in its channel: the move asked now may be lost there.
    rtc->didConnectionStateChanged(KRConnectionState::connected);
    internals(p.client).roomEngine().takeHostRoleMove(true);
    ASSERT_EQ(p.engine->count("role audience"), 1u);
    rtc->didLocalParticipantJoinChannel(
        std::make_shared<RtcPeerMetaData>(p.uid, false, false, false), {});
    settle();
    // The fresh join asks for the host's move again, not for the role given on the return.
    EXPECT_EQ(p.engine->count("role audience"), 2u);
    rtc->didCurrentParticipantRoleChanged(true);
    EXPECT_EQ(p.recorder->count("moved to audience"), 1u);
    EXPECT_TRUE(internals(p.client).isLocalUserInAudienceMode());
    leaveOnScriptedEngine(p);
}

TEST_F(KRClientMultiMediaTest, AHostsEngineJoiningAfreshInAMoveAcceptedWhileAwayConfirmsIt) {
    // Such an engine joins as a speaker and answers no ask for the role it already holds: its
    // join is the answer, whichever of it and the connection it reports first.
    for (const bool joinFirst : {true, false}) {
        SCOPED_TRACE(joinFirst ? "join reported first" : "connection reported first");
        Party p = joinedOnScriptedEngine();
        settle();
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        rtc->didCurrentParticipantRoleChanged(true);
        ASSERT_EQ(p.recorder->count("moved to audience"), 1u);
        rtc->didConnectionStateChanged(KRConnectionState::disconnected);
        internals(p.client).roomEngine().takeHostRoleMove(false);
        EXPECT_FALSE(p.engine->called("role participant")) << "asked while away";
        internals(p.client).networkClient()->didNetworkStateChanged(true);
        main->runPending();
        ASSERT_EQ(p.engine->joins.size(), 2u);
        const auto posts = statusPosts();
        const auto joined = [&] {
            rtc->didLocalParticipantJoinChannel(
                std::make_shared<RtcPeerMetaData>(p.uid, false, false, false), {});
        };
        if (joinFirst) joined();
        rtc->didConnectionStateChanged(KRConnectionState::connected);
        if (!joinFirst) joined();
        settle();
        EXPECT_EQ(p.recorder->count("moved to participant"), 1u);
        EXPECT_FALSE(internals(p.client).isLocalUserInAudienceMode());
        EXPECT_GT(statusPosts(), posts);
        EXPECT_FALSE(p.engine->called("role audience"));
        // Should the engine answer after all, that is no news.
        rtc->didCurrentParticipantRoleChanged(false);
        EXPECT_EQ(p.recorder->count("moved to participant"), 1u);
        leaveOnScriptedEngine(p);
    }
}

// ---- Leave, and the next meeting on the same client ----

TEST_F(KRClientMultiMediaTest, AgoraClientGetsAFreshEngineForTheNextMeeting) {
    Party p = joinedOnAgora();
    std::weak_ptr<RtcManagerProtocol> first = p.client->rtcEngineManager();
    ASSERT_FALSE(first.expired());
    p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return p.recorder->startsWith("left"); }, 10s));
    EXPECT_EQ(p.client->rtcEngineManager(), nullptr);
    EXPECT_TRUE(main->runUntil([&] { return first.expired(); }, 5s));
    EXPECT_TRUE(bus->members("room-1").empty());

    p.recorder->lines.clear();
    startJoin(p, kAgoraRoom, KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return p.recorder->has("joined"); }, 10s));
    ASSERT_TRUE(p.client->rtcEngineManager());
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(bus->members("room-1").size(), 1u);
    EXPECT_EQ(bus->engines().size(), 1u);
}

TEST_F(KRClientMultiMediaTest, HostEngineIsReusedAndTheLeftMeetingsMessagesDoNotAct) {
    Party p = joinedOnScriptedEngine();
    const auto oldRtm = p.engine->rtm.lock();
    ASSERT_TRUE(oldRtm);
    leaveOnScriptedEngine(p);
    EXPECT_TRUE(p.client->rtcEngineManager() == p.engine);
    EXPECT_TRUE(p.engine->rtm.expired());

    // Control messages of the meeting already left, still arriving through its receiver.
    p.engine->calls.clear();
    const std::size_t linesAfterLeave = p.recorder->lines.size();
    KRRtmMessage hardMute;
    hardMute.message = KRRtmMessageEvent::hardMuteEnabled;
    hardMute.senderParticipantId = "555";
    oldRtm->didRecievePublicMessage(hardMute);
    KRRtmMessage downgrade;
    downgrade.message = KRRtmMessageEvent::participantDowngradeToAudience;
    downgrade.messageType = KRRtmMessageType::peerToPeer;
    downgrade.senderParticipantId = "555";
    downgrade.targetParticipantId = p.uid;
    oldRtm->didRecievePrivateMessage(downgrade);
    main->runPending();
    EXPECT_TRUE(p.engine->calls.empty()) << testing::PrintToString(p.engine->calls);
    EXPECT_EQ(p.recorder->lines.size(), linesAfterLeave) << testing::PrintToString(p.recorder->lines);
    EXPECT_FALSE(internals(p.client).currentRoom().isHardMuteEnabled);

    // The next meeting runs on the same engine, set up and joined again.
    startJoin(p, kKrRoom, KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s));
    const Lines expected{"configure", "rtm", "join"};
    EXPECT_EQ(p.engine->calls, expected);
    EXPECT_EQ(p.engine->joins.size(), 2u);
    auto finished = reportLocalJoin(p);
    ASSERT_TRUE(main->runUntil([&] { return *finished == 1; }, 10s));
    EXPECT_EQ(p.recorder->count("joined"), 2u);
    EXPECT_FALSE(internals(p.client).currentRoom().isHardMuteEnabled);
    EXPECT_FALSE(internals(p.client).currentRoom().isCurrentUserAudioMuted);
}

TEST_F(KRClientMultiMediaTest, EngineReportsAfterTheLeaveChangeNothing) {
    // A host's engine outlives the meeting, and its reports may cross the leave.
    Party p = joinedOnScriptedEngine();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    leaveOnScriptedEngine(p);
    settle();
    const auto bob = std::make_shared<RtcPeerMetaData>("777", false, false, false);
    struct Report {
        const char* name;
        std::function<void()> play;
    };
    const std::vector<Report> reports{
        {"remote join", [&] { rtc->didRemoteParticipantJoinChannel(bob, {}); }},
        {"remote audio", [&] { rtc->didRemoteParticipantAudioStatusUpdated(bob, true); }},
        {"loudest", [&] { rtc->didDetectLoudestParticipant(bob); }},
        {"speakers", [&] { rtc->didDetectTopActiveSpeakersPeers({bob}); }},
        {"role", [&] { rtc->didCurrentParticipantRoleChanged(true); }},
        {"connection", [&] { rtc->didConnectionStateChanged(KRConnectionState::disconnected); }},
    };
    for (const Report& report : reports) {
        SCOPED_TRACE(report.name);
        const Lines before = p.recorder->lines;
        const std::size_t posts = statusPosts();
        report.play();
        main->runPending();
        settle();
        EXPECT_EQ(p.recorder->lines, before);
        EXPECT_TRUE(p.client->getMeetingUsers().empty());
        EXPECT_EQ(statusPosts(), posts);
        EXPECT_FALSE(internals(p.client).roomEngine().isWaitingToBeReconnect());
    }
}

TEST_F(KRClientMultiMediaTest, ReportsThroughTheLeftMeetingsReceiverDoNotActOnTheNextJoin) {
    // The host's engine reports to the left meeting's receiver until the next join sets it up
    // again: what it reports there meanwhile belongs to the meeting that ended.
    Party p = joinedOnScriptedEngine();
    leaveOnScriptedEngine(p);
    const auto stale = p.engine->delegate.lock();
    ASSERT_TRUE(stale);
    p.engine->calls.clear();
    p.recorder->lines.clear();
    startJoin(p, kKrRoom, KRUserRole::speaker());
    ASSERT_TRUE(internals(p.client).isJoining());

    const auto bob = std::make_shared<RtcPeerMetaData>("777", false, false, false);
    stale->didRemoteParticipantJoinChannel(bob, {});
    stale->didRemoteParticipantAudioStatusUpdated(bob, true);
    stale->didCurrentParticipantRoleChanged(true);
    stale->didConnectionStateChanged(KRConnectionState::disconnected);
    int finished = 0;
    stale->didLocalParticipantJoinChannel(
        std::make_shared<RtcPeerMetaData>("888", false, false, false), [&] { ++finished; });
    EXPECT_EQ(finished, 1);
    // That channel is left; the join under way heard nothing of it.
    EXPECT_EQ(p.engine->count("leave"), 1u) << testing::PrintToString(p.engine->calls);
    EXPECT_TRUE(p.client->getMeetingUsers().empty());
    EXPECT_FALSE(internals(p.client).roomEngine().isWaitingToBeReconnect());
    EXPECT_TRUE(p.recorder->lines.empty()) << testing::PrintToString(p.recorder->lines);

    // The join still sets the engine up, with a receiver of its own, and reaches its meeting.
    ASSERT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s));
    EXPECT_NE(p.engine->delegate.lock(), stale);
    auto done = reportLocalJoin(p);
    ASSERT_TRUE(main->runUntil([&] { return *done == 1; }, 10s));
    EXPECT_EQ(p.recorder->count("joined"), 1u) << testing::PrintToString(p.recorder->lines);
    EXPECT_FALSE(p.recorder->startsWith("moved"));
    ASSERT_TRUE(p.client->getMeetingLocalUser());
    EXPECT_EQ(p.client->getMeetingLocalUser()->id(), p.uid);
    EXPECT_FALSE(p.client->getUser("777"));
}

TEST_F(KRClientMultiMediaTest, ALateSocketLeaveOfAnEarlierLoginKeepsTheParticipantBackUnderItsUid) {
    Party p = joinedOnScriptedEngine();
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    ASSERT_TRUE(internals(p.client).webSocketManager());
    // Bob came back under the uid of his earlier login; the room store still names the old one.
    KRMeetingParticipant back;
    back.participantId = "777";
    back.userId = "bob-2";
    internals(p.client).meetingUsersManager().upsertParticipantMetaData(back, {.reportChanges = false});
    rtc->didRemoteParticipantJoinChannel(std::make_shared<RtcPeerMetaData>("777", false, false, false),
                                         {});
    KRMeetingParticipant earlier = back;
    earlier.userId = "bob-1";
    internals(p.client).currentRoom().allParticipants = {earlier};

    auto& socket = *internals(p.client).webSocketManager();
    socket.onUserLeftMeeting("bob-1");
    EXPECT_TRUE(p.client->getUser("777"));
    EXPECT_FALSE(p.recorder->has("remote left 777"));

    // The frame about the login that is in the meeting does take him out.
    internals(p.client).currentRoom().allParticipants = {back};
    socket.onUserLeftMeeting("bob-2");
    EXPECT_FALSE(p.client->getUser("777"));
    EXPECT_EQ(p.recorder->count("remote left 777"), 1u);
}

TEST_F(KRClientMultiMediaTest, SecondSetUpInOneMeetingIsRefused) {
    const KRJoinMeetingConfig config(KRUserRole::speaker(), true, true);
    // While the first set-up is still talking to the server.
    Party joining = makeParty(true);
    startJoin(joining, kKrRoom, KRUserRole::speaker());
    internals(joining.client).roomEngine().configureForMultiMediaEngine(config);
    ASSERT_TRUE(main->runUntil([&] { return joining.engine->called("join"); }, 10s));
    settle();
    EXPECT_EQ(service.requestCount(R::configuration), 1u);
    EXPECT_EQ(joining.engine->count("configure"), 1u);
    EXPECT_EQ(joining.engine->count("join"), 1u);
    reportLocalJoin(joining);
    ASSERT_TRUE(main->runUntil([&] { return joining.recorder->has("joined"); }, 10s));

    // In the meeting.
    internals(joining.client).roomEngine().configureForMultiMediaEngine(config);
    settle();
    EXPECT_EQ(service.requestCount(R::configuration), 1u);
    EXPECT_EQ(joining.engine->count("configure"), 1u);
    EXPECT_EQ(joining.engine->count("join"), 1u);
    EXPECT_TRUE(joining.client->rtcEngineManager() == joining.engine);
}

// ---- Reports of a host-built engine ----

TEST_F(KRClientMultiMediaTest, HostBuiltEngineReportsReachTheHostThroughTheMerge) {
    auto engine = std::make_shared<ScriptedEngine>();
    Member ann{KRClient::create(deps()), std::make_shared<RoomEngineRecorder>()};
    auto extra = std::make_shared<RoomEngineRecorder>();
    ann.client->setMultiMediaEngineIntegration(true);
    ann.client->setRtcEngineManager(engine);
    ann.client->addDelegate("extra", extra);
    ann.client->joinMeeting(KRJoinMeetingData(kKrRoom, "4321", "Ann"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), ann.recorder);
    ASSERT_TRUE(main->runUntil([&] { return engine->called("join"); }, 10s));
    const auto rtc = engine->delegate.lock();
    auto rtm = engine->rtm.lock();
    ASSERT_TRUE(rtc);
    ASSERT_TRUE(rtm);

    // Nothing of the join's end runs before the engine reports the local participant in.
    EXPECT_FALSE(internals(ann.client).hasPollingTimers());
    bool joinFinished = false;
    const auto local = std::make_shared<RtcPeerMetaData>("10001", false, false, false);
    rtc->didLocalParticipantJoinChannel(local, [&] { joinFinished = true; });
    ASSERT_TRUE(main->runUntil([&] { return joinFinished; }, 10s));
    EXPECT_TRUE(ann.recorder->has("joined"));
    EXPECT_TRUE(engine->called("local view"));
    EXPECT_TRUE(internals(ann.client).hasPollingTimers());
    EXPECT_TRUE(internals(ann.client).hasConnectionCheckTimer());

    const auto bob = std::make_shared<RtcPeerMetaData>("777", true, true, false);
    bool remoteFinished = false;
    rtc->didRemoteParticipantJoinChannel(bob, [&] { remoteFinished = true; });
    EXPECT_TRUE(remoteFinished);
    EXPECT_TRUE(engine->called("remote view 777"));
    EXPECT_TRUE(ann.recorder->has("remote joined 777"));

    // Bob is known from the engine alone, with no server record: he may be a host who has just
    // joined, so his host-only messages are taken.
    KRRtmMessage hardMute;
    hardMute.message = KRRtmMessageEvent::hardMuteEnabled;
    hardMute.senderParticipantId = "777";
    rtm->didRecievePublicMessage(hardMute);
    EXPECT_TRUE(ann.recorder->has("hard mute"));
    EXPECT_TRUE(engine->called("mute audio on"));
    KRRtmMessage downgrade;
    downgrade.message = KRRtmMessageEvent::participantDowngradeToAudience;
    downgrade.messageType = KRRtmMessageType::peerToPeer;
    downgrade.senderParticipantId = "777";
    downgrade.targetParticipantId = "10001";
    rtm->didRecievePrivateMessage(downgrade);
    EXPECT_TRUE(engine->called("role audience"));

    // A speaker list naming a stranger is not reported; one of known users is.
    const auto stranger = std::make_shared<RtcPeerMetaData>("999", false, false, false);
    rtc->didDetectTopActiveSpeakersPeers({bob, stranger});
    EXPECT_FALSE(ann.recorder->startsWith("speakers"));
    rtc->didDetectTopActiveSpeakersPeers({bob, local});
    EXPECT_TRUE(ann.recorder->has("speakers 2"));

    // The hand goes out through the engine, to the room channel, once the service took its post.
    const std::size_t sentBefore = engine->sent.size();
    ann.client->raiseHand();
    // A push composed before the service took the raise may come while it is on its way: the
    // message then waits, on the library's clock, for a push or a reply that shows the raise.
    // A second move covers a raise answered only after the first.
    const auto handSent = [&] { return engine->sent.size() > sentBefore; };
    for (int moves = 0; moves < 2 && !main->runUntil(handSent, 2s); ++moves) {
        clock->advance(RoomSync::kOwnPushWait);
    }
    ASSERT_TRUE(handSent());
    EXPECT_EQ(engine->sent.back().message, KRRtmMessageEvent::participantRaiseHand);
    EXPECT_EQ(engine->sent.back().messageType, KRRtmMessageType::publicChat);
    EXPECT_EQ(engine->sent.back().senderParticipantId, "10001");

    // A co-host grant names its target by user id; the merge finds the participant by it.
    const auto me = ann.client->getMeetingLocalUser();
    ASSERT_TRUE(me);
    KRRtmMessage coHost;
    coHost.message = KRRtmMessageEvent::makeCoHost;
    coHost.senderParticipantId = "555";  // not (yet) known: it may be a host who just joined
    coHost.targetParticipantId = me->userId().empty() ? me->id() : me->userId();
    rtm->didRecievePublicMessage(coHost);
    EXPECT_TRUE(ann.client->getMeetingLocalUser()->isCoHost());

    // A lost connection of this engine waits for the network; the host hears the state.
    rtc->didConnectionStateChanged(KRConnectionState::disconnected);
    EXPECT_TRUE(internals(ann.client).roomEngine().isWaitingToBeReconnect());
    rtc->didConnectionStateChanged(KRConnectionState::connected);
    EXPECT_FALSE(internals(ann.client).roomEngine().isWaitingToBeReconnect());

    rtm.reset();
    // The engine's leave: the main delegate hears the engine's reason, the messages stop.
    bool leaveFinished = false;
    rtc->didLocalParticipantLeaveChannel(KRUserLeftReason::networkDropped(),
                                         [&] { leaveFinished = true; });
    EXPECT_TRUE(leaveFinished);
    EXPECT_TRUE(ann.recorder->has(
        "left " + std::to_string(static_cast<int>(KRUserLeftReason::Kind::networkDropped))));
    EXPECT_FALSE(extra->startsWith("left"));
    EXPECT_TRUE(engine->rtm.expired());
    EXPECT_FALSE(internals(ann.client).hasPollingTimers());
    EXPECT_TRUE(ann.client->getMeetingUsers().empty());
}

// ---- Background, speakers, host messages and the leave of a share ----

TEST_F(KRClientMultiMediaTest, ChosenBackgroundIsInPlaceBeforeTheLibrarysEngineJoins) {
    struct Case {
        const char* name;
        KRVirtualBackgroundType before, during;
        std::string beforeArguments, duringArguments;
    };
    const auto type = [](int code) { return "true, {type: " + std::to_string(code) + ","; };
    const std::vector<Case> cases{
        {"blur, then an image", KRVirtualBackgroundType::blur(KRVirtaulBackgroundBlurIntensity::high),
         KRVirtualBackgroundType::image("/backgrounds/beach.png"),
         type(platform::MediaCodes::kBackgroundBlur), type(platform::MediaCodes::kBackgroundImage)},
        {"image, then none", KRVirtualBackgroundType::image("/backgrounds/office.png"),
         KRVirtualBackgroundType::none(), type(platform::MediaCodes::kBackgroundImage),
         "false, none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = makeParty(false);
        p.client->applyVirtualBackground(c.before);
        startJoin(p, kAgoraRoom, KRUserRole::speaker());
        ASSERT_TRUE(main->runUntil(
            [&] { return p.recorder->has("joined") || p.recorder->startsWith("join failed"); }, 10s));
        ASSERT_TRUE(p.recorder->has("joined"));
        const auto media = bus->engineFor("room-1", std::stoull(internals(p.client).currentRoom().userWebRtcId));
        ASSERT_TRUE(media);
        const Lines calls = media->callTexts();
        const auto background = std::find_if(calls.begin(), calls.end(), [&](const std::string& t) {
            return t.rfind("enableVirtualBackground(" + c.beforeArguments, 0) == 0;
        });
        const auto join = std::find_if(calls.begin(), calls.end(), [](const std::string& t) {
            return t.rfind("joinChannelByToken(", 0) == 0;
        });
        ASSERT_NE(background, calls.end()) << testing::PrintToString(calls);
        EXPECT_LT(background, join) << testing::PrintToString(calls);

        // A change in the meeting reaches the engine at once.
        p.client->applyVirtualBackground(c.during);
        const auto applied = media->callArguments(platform::MediaOperation::enableVirtualBackground);
        ASSERT_EQ(applied.size(), 2u) << testing::PrintToString(applied);
        EXPECT_EQ(applied.back().rfind(c.duringArguments, 0), 0u) << applied.back();
        p.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return p.recorder->startsWith("left"); }, 10s));
    }
}

TEST_F(KRClientMultiMediaTest, EachLoudestReportOfTheEngineIsHeardExactlyOnce) {
    Party p = joinedOnScriptedEngine();
    auto extra = std::make_shared<Recorder>();
    p.client->addDelegate("extra", extra);
    const auto rtc = p.engine->delegate.lock();
    ASSERT_TRUE(rtc);
    const auto bob = std::make_shared<RtcPeerMetaData>("777", false, false, false);
    rtc->didRemoteParticipantJoinChannel(bob, {});
    const auto local = internals(p.client).meetingUsersManager().rtcParticipants().front();
    ASSERT_EQ(local->id(), p.uid);

    struct Report {
        const char* name;
        std::shared_ptr<RtcPeerMetaData> loudest;  // null: nobody
        std::string heard;
    };
    const std::vector<Report> reports{
        {"bob", bob, "loudest 777"},
        {"bob again", bob, "loudest 777"},
        {"the local user", local, "loudest " + p.uid},
        {"nobody", nullptr, "loudest nobody"},
    };
    for (const Report& report : reports) {
        SCOPED_TRACE(report.name);
        p.recorder->lines.clear();
        extra->lines.clear();
        // The engine marks its own peer before it reports, as the library's engine does.
        if (report.loudest) report.loudest->setIsLoudest(true);
        rtc->didDetectLoudestParticipant(report.loudest);
        main->runPending();
        for (const auto& heard : {p.recorder, extra}) {
            EXPECT_EQ(heard->count("loudest"), 1u) << testing::PrintToString(heard->lines);
            EXPECT_TRUE(heard->has(report.heard)) << testing::PrintToString(heard->lines);
        }
    }
    // A mute report that comes between the engine's mark and its loudest report is no loudest
    // report of its own.
    p.recorder->lines.clear();
    bob->setIsLoudest(true);
    bob->setIsAudioMuted(true);
    rtc->didRemoteParticipantAudioStatusUpdated(bob, true);
    EXPECT_EQ(p.recorder->count("loudest"), 0u) << testing::PrintToString(p.recorder->lines);
    rtc->didDetectLoudestParticipant(bob);
    EXPECT_EQ(p.recorder->count("loudest"), 1u) << testing::PrintToString(p.recorder->lines);
}

TEST_F(KRClientMultiMediaTest, HostMessagesReachTheDelegatesTheirEventsNameAndSoftMuteOnlyTheMain) {
    struct Case {
        const char* name;
        KRRtmMessageEvent event;
        const char* heard;
        bool extraHears;
    };
    const std::vector<Case> cases{
        {"soft mute", KRRtmMessageEvent::softMuteEnabled, "soft mute", false},
        {"hard mute", KRRtmMessageEvent::hardMuteEnabled, "hard mute", true},
        {"hard mute off", KRRtmMessageEvent::hardMuteDisabled, "hard mute off", true},
        {"hands lowered", KRRtmMessageEvent::hostLowerAllHands, "hands lowered", true},
    };
    Party p = joinedOnScriptedEngine();
    auto extra = std::make_shared<Recorder>();
    p.client->addDelegate("extra", extra);
    const auto rtm = p.engine->rtm.lock();
    ASSERT_TRUE(rtm);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.recorder->lines.clear();
        extra->lines.clear();
        KRRtmMessage message;
        message.message = c.event;
        message.senderParticipantId = "555";  // a host the merge has not met yet
        rtm->didRecievePublicMessage(message);
        main->runPending();
        EXPECT_EQ(p.recorder->count(c.heard), 1u) << testing::PrintToString(p.recorder->lines);
        EXPECT_EQ(extra->has(c.heard), c.extraHears) << testing::PrintToString(extra->lines);
    }
    EXPECT_TRUE(internals(p.client).currentRoom().isSoftMuteEnabled);
    EXPECT_TRUE(p.engine->called("mute audio on"));
}

TEST_F(KRClientMultiMediaTest, LeaveStopsAShareTheMergeKnowsOfExactlyOnce) {
    struct Case {
        const char* name;
        bool serverRecord, engineTrack, roomStore;
        std::size_t stops;
    };
    const std::vector<Case> cases{
        {"nobody shares", false, false, false, 0},
        {"the server's record", true, false, false, 1},
        {"the engine's local share track", false, true, false, 1},
        {"record, track and room store", true, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = joinedOnScriptedEngine();
        const auto rtc = p.engine->delegate.lock();
        ASSERT_TRUE(rtc);
        auto& merge = internals(p.client).meetingUsersManager();
        if (c.serverRecord) {
            KRMeetingParticipant record;
            for (const auto& r : merge.metaData()) {
                if (r.participantId == p.uid) record = r;
            }
            record.participantId = p.uid;
            record.isSharingScreen = true;
            merge.upsertParticipantMetaData(record, {});
        }
        if (c.engineTrack) {
            const auto local = merge.getMeetingUser(p.uid);
            ASSERT_TRUE(local);
            rtc->didAuxiliaryVideoTrackAdded(std::make_shared<RtcPeerMetaData>(p.uid, false, false, false),
                                             std::make_shared<RtcAuxiliaryTrack>("5001", p.uid));
            ASSERT_TRUE(p.recorder->has("local share started by " + p.uid));
        }
        if (c.roomStore) internals(p.client).localScreenShare().adoptStream(5001, "t");
        const auto stops = [&] {
            std::size_t n = 0;
            for (const auto& request : service.requests(R::shareScreen)) {
                if (request.body.find("\"stop\"") != std::string::npos &&
                    request.body.find(p.uid) != std::string::npos) {
                    ++n;
                }
            }
            return n;
        };
        leaveOnScriptedEngine(p);
        if (c.stops > 0) {
            ASSERT_TRUE(main->runUntil([&] { return stops() >= c.stops; }, 10s));
        }
        settle();
        EXPECT_EQ(stops(), c.stops);
    }
}

TEST_F(KRClientMultiMediaTest, AShareStreamStartedWhileAPeerSharesIsAnnouncedAsAnOverride) {
    using E = KRRtmMessageEvent;
    struct Case {
        const char* name;
        bool peerShares;
        std::vector<E> sent;
    };
    const std::vector<Case> cases{
        {"nobody shares", false, {E::participantStartScreenShare}},
        {"a peer's share the engine brought", true,
         {E::participantOverrideScreenShare, E::participantStartScreenShare}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Party p = joinedOnScriptedEngine();
        if (c.peerShares) {
            const auto rtc = p.engine->delegate.lock();
            ASSERT_TRUE(rtc);
            const auto peer = std::make_shared<RtcPeerMetaData>("30001", false, false, false);
            rtc->didRemoteParticipantJoinChannel(peer, [] {});
            rtc->didAuxiliaryVideoTrackAdded(peer, std::make_shared<RtcAuxiliaryTrack>("5002", "30001"));
            main->runPending();
            ASSERT_TRUE(p.recorder->has("remote share started by 30001"))
                << testing::PrintToString(p.recorder->lines);
        }
        // The stream the extension started is the one this meeting granted.
        std::optional<bool> granted;
        p.client->shareScreenAPICall([&](bool ok) { granted = ok; });
        ASSERT_TRUE(main->runUntil([&] { return granted.has_value(); }, 5s));
        ASSERT_EQ(granted, true);
        p.engine->sent.clear();
        p.extension->post(KRClient::kStreamStartedNotification);
        EXPECT_TRUE(main->runUntil([&] { return p.engine->sent.size() >= c.sent.size(); }, 5s));
        main->runPending();
        Lines sent, expected;
        for (const auto& m : p.engine->sent) sent.emplace_back(rawValue(m.message));
        for (const E e : c.sent) expected.emplace_back(rawValue(e));
        EXPECT_EQ(sent, expected);
    }
}

TEST_F(KRClientMultiMediaTest, HostOnlyMessagesAreDroppedOnlyFromASenderTheServerListsWithoutRights) {
    Party ann = joinedOnScriptedEngine();
    Party bob = joinedOnScriptedEngine();  // a plain participant, on the server's list
    const auto rtc = ann.engine->delegate.lock();
    const auto rtm = ann.engine->rtm.lock();
    ASSERT_TRUE(rtc && rtm);
    const std::string host = "20001";  // seen through the engine before any reply names it
    for (const std::string& uid : {bob.uid, host}) {
        rtc->didRemoteParticipantJoinChannel(
            std::make_shared<RtcPeerMetaData>(uid, false, false, false), [] {});
    }
    std::optional<bool> polled;
    internals(ann.client).roomSync().fetchRoomStatus([&](bool ok) { polled = ok; });
    ASSERT_TRUE(main->runUntil([&] { return polled.has_value(); }, 10s));
    ASSERT_TRUE(ann.client->getUser(host) != nullptr);
    ASSERT_FALSE(ann.client->getUser(host)->isHost());

    const auto hardMuteFrom = [&](const std::string& sender) {
        KRRtmMessage message;
        message.message = KRRtmMessageEvent::hardMuteEnabled;
        message.senderParticipantId = sender;
        rtm->didRecievePublicMessage(message);
    };
    hardMuteFrom(bob.uid);
    EXPECT_FALSE(ann.recorder->has("hard mute"));
    hardMuteFrom(host);
    EXPECT_TRUE(ann.recorder->has("hard mute"));
}

}  // namespace
}  // namespace kr
