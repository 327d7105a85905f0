#include "platform/Media/MediaEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaEngineFactory.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// Writes every callback down as a short text, e.g. "didOfflineOfUid(2, 1)".
class Recorder : public MediaEngineDelegate {
public:
    Events events;
    std::function<void(const std::string&)> onEvent;  // runs inside the callback

    Events take() { return std::exchange(events, {}); }

    void didJoinChannel(const std::string& channel, std::uint64_t uid, int) override {
        add("didJoinChannel(" + channel + ", " + std::to_string(uid) + ")");
    }
    void didLeaveChannelWithStats(const ChannelStats&) override { add("didLeaveChannel"); }
    void didJoinedOfUid(std::uint64_t uid, int) override {
        add("didJoinedOfUid(" + std::to_string(uid) + ")");
    }
    void didOfflineOfUid(std::uint64_t uid, int reason) override {
        add("didOfflineOfUid(" + pair(uid, reason) + ")");
    }
    void connectionChangedToState(int state, int reason) override {
        add("connection(" + pair(state, reason) + ")");
    }
    void didClientRoleChanged(int oldRole, int newRole) override {
        add("roleChanged(" + pair(oldRole, newRole) + ")");
    }
    void didClientRoleChangeFailed(int reason, int role) override {
        add("roleChangeFailed(" + pair(reason, role) + ")");
    }
    void remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int reason, int) override {
        add("remoteAudio(" + pair(uid, state) + ", " + std::to_string(reason) + ")");
    }
    void remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason, int) override {
        add("remoteVideo(" + pair(uid, state) + ", " + std::to_string(reason) + ")");
    }
    void reportAudioVolumeIndicationOfSpeakers(const std::vector<AudioVolumeInfo>& speakers,
                                               int total) override {
        std::string list;
        for (const auto& s : speakers) {
            list += (list.empty() ? "" : " ") + std::to_string(s.uid) + ":" +
                    std::to_string(s.volume) + ":" + std::to_string(s.vad);
        }
        add("volumes([" + list + "], " + std::to_string(total) + ")");
    }
    void didAudioRouteChanged(int routing) override {
        add("route(" + std::to_string(routing) + ")");
    }
    void reportRtcStats(const ChannelStats& stats) override {
        add("stats(" + std::to_string(stats.lastmileDelay) + ")");
    }
    void localAudioStateChange(int state, int error) override {
        add("localAudio(" + pair(state, error) + ")");
    }
    void localVideoStateChange(int state, int error) override {
        add("localVideo(" + pair(state, error) + ")");
    }
    void localAudioMixingStateDidChanged(int state, int reason) override {
        add("mixing(" + pair(state, reason) + ")");
    }
    void virtualBackgroundSourceEnabled(bool enabled, int reason) override {
        add("virtualBackground(" + pair(enabled, reason) + ")");
    }

private:
    template <typename A, typename B>
    static std::string pair(A a, B b) {
        return std::to_string(a) + ", " + std::to_string(b);
    }
    void add(std::string event) {
        events.push_back(std::move(event));
        if (onEvent) {
            onEvent(events.back());
        }
    }
};

const Events kJoined1 = {"connection(2, 0)", "connection(3, 1)", "didJoinChannel(room, 1)",
                         "route(1)"};
const Events kLeft = {"connection(1, 5)", "didLeaveChannel"};

struct Client {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<MediaEngine> engine;

    Events take() { return recorder->take(); }
};

class MediaEngineTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> clock = ManualClock::create();
    // Replaced by a real-time queue in the tests that drive engines from other threads (it wakes
    // up when they post), before any engine is made.
    std::shared_ptr<MainQueue> queue = MainQueue::create(clock);
    std::shared_ptr<MediaBus> bus = MediaBus::create();

    Client makeClient() {
        Client client;
        client.engine = MediaEngine::create("app", client.recorder, bus, queue);
        return client;
    }
    static void join(Client& client, std::uint64_t uid, bool broadcaster = true,
                     ChannelMediaOptions options = {}) {
        client.engine->setClientRole(broadcaster ? MediaCodes::kRoleBroadcaster
                                                 : MediaCodes::kRoleAudience);
        client.engine->joinChannelByToken("token", "room", "", uid, options);
    }
    void run() { queue->runPending(); }
};

TEST_F(MediaEngineTest, BroadcastersSeeEachOtherJoinAndQuitAfterTheCallReturns) {
    Client a = makeClient();
    Client b = makeClient();
    join(a, 1);
    EXPECT_TRUE(a.recorder->events.empty()) << "a callback ran inside the join";
    EXPECT_EQ(a.engine->getConnectionState(), MediaCodes::kConnectionConnecting);
    run();
    EXPECT_EQ(a.take(), kJoined1);
    EXPECT_EQ(a.engine->getConnectionState(), MediaCodes::kConnectionConnected);

    join(b, 2);
    run();
    EXPECT_EQ(a.take(), (Events{"didJoinedOfUid(2)", "remoteAudio(2, 2, 6)"}));
    EXPECT_EQ(b.take(), (Events{"connection(2, 0)", "connection(3, 1)", "didJoinChannel(room, 2)",
                                "route(1)", "didJoinedOfUid(1)", "remoteAudio(1, 2, 4)"}));
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{1, 2}));

    b.engine->leaveChannel();
    EXPECT_EQ(b.engine->getConnectionState(), MediaCodes::kConnectionDisconnected);
    run();
    EXPECT_EQ(a.take(), (Events{"didOfflineOfUid(2, 0)"}));
    EXPECT_EQ(b.take(), kLeft);
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(b.engine->leaveChannel(), MediaCodes::kOk);
    run();
    EXPECT_TRUE(b.take().empty()) << "a second leave reports nothing";
}

TEST_F(MediaEngineTest, RoleChangesAreConfirmedOrRefusedAndSeenByTheOthers) {
    bus->setBroadcasterLimit(2);
    Client a = makeClient();
    Client b = makeClient();
    Client c = makeClient();
    join(a, 1);
    join(b, 2);
    join(c, 3, /*broadcaster=*/false);
    run();
    a.take();
    b.take();
    EXPECT_EQ(c.take(), (Events{"connection(2, 0)", "connection(3, 1)", "didJoinChannel(room, 3)",
                                "route(1)", "didJoinedOfUid(1)", "didJoinedOfUid(2)",
                                "remoteAudio(1, 2, 4)", "remoteAudio(2, 2, 4)"}))
        << "an audience member hears the broadcasters";

    c.engine->setClientRole(MediaCodes::kRoleBroadcaster);  // the channel is full
    run();
    EXPECT_EQ(c.take(), (Events{"roleChangeFailed(1, 2)"}));
    EXPECT_TRUE(a.take().empty());

    b.engine->setClientRole(MediaCodes::kRoleAudience);
    run();
    EXPECT_EQ(b.take(), (Events{"roleChanged(1, 2)"}));
    EXPECT_EQ(a.take(), (Events{"didOfflineOfUid(2, 2)"}));
    EXPECT_EQ(c.take(), (Events{"didOfflineOfUid(2, 2)"}));

    c.engine->setClientRole(MediaCodes::kRoleBroadcaster);  // room again
    run();
    EXPECT_EQ(c.take(), (Events{"roleChanged(2, 1)"}));
    EXPECT_EQ(a.take(), (Events{"didJoinedOfUid(3)", "remoteAudio(3, 2, 6)"}));
    EXPECT_EQ(b.take(), (Events{"didJoinedOfUid(3)", "remoteAudio(3, 2, 6)"}));
    EXPECT_EQ(bus->broadcasters("room"), (std::vector<std::uint64_t>{1, 3}));

    Client d = makeClient();  // a broadcaster joining a full channel comes in as audience
    join(d, 4);
    run();
    Events dEvents = d.take();
    EXPECT_EQ(dEvents.at(4), "roleChangeFailed(1, 2)");
    EXPECT_EQ(d.engine->clientRole(), MediaCodes::kRoleAudience);
    EXPECT_TRUE(a.take().empty()) << "nobody hears of an audience member";
}

TEST_F(MediaEngineTest, MutesAndSubscriptionsReachTheReceiverAsRemoteStates) {
    const ChannelMediaOptions explicitOnly{false, false, true, true};
    Client a = makeClient();
    Client b = makeClient();
    a.engine->enableVideo();
    b.engine->enableVideo();
    join(a, 1, true, explicitOnly);
    join(b, 2, true, explicitOnly);
    run();
    a.take();
    EXPECT_EQ(b.take().back(), "didJoinedOfUid(1)") << "nothing is received unasked";

    MediaEngine& sender = *a.engine;
    MediaEngine& receiver = *b.engine;
    const struct {
        const char* step;
        std::function<void()> act;
        Events atReceiver;
    } steps[] = {
        {"receiver asks for audio",
         [&] { receiver.muteRemoteAudioStream(1, false); },
         {"remoteAudio(1, 2, 4)"}},
        {"receiver asks for video",
         [&] { receiver.muteRemoteVideoStream(1, false); },
         {"remoteVideo(1, 2, 4)"}},
        {"sender mutes microphone",
         [&] { sender.muteLocalAudioStream(true); },
         {"remoteAudio(1, 0, 5)"}},
        {"sender unmutes microphone",
         [&] { sender.muteLocalAudioStream(false); },
         {"remoteAudio(1, 2, 6)"}},
        {"sender mutes camera",
         [&] { sender.muteLocalVideoStream(true); },
         {"remoteVideo(1, 0, 5)"}},
        {"sender switches camera off", [&] { sender.enableLocalVideo(false); }, {}},
        {"sender unmutes, camera still off", [&] { sender.muteLocalVideoStream(false); }, {}},
        {"sender switches camera on",
         [&] { sender.enableLocalVideo(true); },
         {"remoteVideo(1, 2, 6)"}},
        {"receiver mutes all audio",
         [&] { receiver.muteAllRemoteAudioStreams(true); },
         {"remoteAudio(1, 0, 3)"}},
        {"receiver disables video", [&] { receiver.disableVideo(); }, {"remoteVideo(1, 0, 3)"}},
        {"sender becomes audience",
         [&] { sender.setClientRole(MediaCodes::kRoleAudience); },
         {"didOfflineOfUid(1, 2)"}},
    };
    for (const auto& step : steps) {
        step.act();
        run();
        EXPECT_EQ(b.take(), step.atReceiver) << step.step;
    }
    EXPECT_EQ(a.take(), (Events{"roleChanged(1, 2)"}));
}

TEST_F(MediaEngineTest, DroppedConnectionIsSeenAsDroppedAndStillEndsWithALeave) {
    Client a = makeClient();
    Client b = makeClient();
    join(a, 1);
    join(b, 2);
    run();
    a.take();
    b.take();

    b.engine->simulateNetworkDrop();
    run();
    EXPECT_EQ(a.take(), (Events{"didOfflineOfUid(2, 1)"}));
    EXPECT_EQ(b.take(), (Events{"connection(4, 2)"}));
    EXPECT_FALSE(b.engine->isInChannel());

    b.engine->leaveChannel();
    run();
    EXPECT_EQ(b.take(), kLeft);
    EXPECT_TRUE(a.take().empty());
}

TEST_F(MediaEngineTest, NothingArrivesAfterLeaveDestroyOrADetachedDelegate) {
    const struct {
        const char* how;
        std::function<void(MediaEngine&)> stop;
        Events expected;
    } cases[] = {
        {"leave", [](MediaEngine& e) { e.leaveChannel(); }, kLeft},
        {"destroy", [](MediaEngine& e) { e.destroy(); }, {}},
        {"detached delegate", [](MediaEngine& e) { e.setDelegate({}); }, {}},
    };
    for (const auto& c : cases) {
        Client a = makeClient();
        Client b = makeClient();
        join(a, 1);
        run();
        join(b, 2);  // its join, remote join and remote audio are queued ...
        b.engine->inject([](MediaEngineDelegate& d) { d.reportRtcStats(ChannelStats{}); });
        c.stop(*b.engine);  // ... and dropped here
        b.engine->leaveChannel();
        run();
        EXPECT_EQ(b.take(), c.expected) << c.how;
        if (b.engine->isDestroyed()) {
            EXPECT_EQ(b.engine->joinChannelByToken("t", "room", "", 2, {}),
                      MediaCodes::kErrNotReady);
        }
    }
}

TEST_F(MediaEngineTest, InjectedFailuresSurfaceWithTheirCodes) {
    const struct {
        MediaOperation operation;
        int code;
        bool joinedFirst;
        std::function<int(MediaEngine&)> call;
        Events expected;
    } cases[] = {
        {MediaOperation::joinChannelByToken,
         8,
         false,
         [](MediaEngine& e) { return e.joinChannelByToken("t", "room", "", 5, {}); },
         {"connection(2, 0)", "connection(5, 8)"}},
        {MediaOperation::setClientRole,
         1,
         true,
         [](MediaEngine& e) { return e.setClientRole(MediaCodes::kRoleBroadcaster); },
         {"roleChangeFailed(1, 2)"}},
        {MediaOperation::muteLocalAudioStream,
         2,
         true,
         [](MediaEngine& e) { return e.muteLocalAudioStream(true); },
         {"localAudio(3, 2)"}},
        {MediaOperation::enableLocalVideo,
         3,
         false,
         [](MediaEngine& e) { return e.enableLocalVideo(false); },
         {"localVideo(3, 3)"}},
        {MediaOperation::startAudioMixing,
         701,
         true,
         [](MediaEngine& e) { return e.startAudioMixing("chime.wav", true, false, 1, 0); },
         {"mixing(714, 701)"}},
        {MediaOperation::enableVirtualBackground,
         3,
         false,
         [](MediaEngine& e) { return e.enableVirtualBackground(true, VirtualBackgroundSource{}); },
         {"virtualBackground(0, 3)"}},
    };
    for (const auto& c : cases) {
        const auto name = std::string(mediaOperationName(c.operation));
        Client client = makeClient();
        if (c.joinedFirst) {
            join(client, 5, /*broadcaster=*/false);
            run();
            client.take();
        }
        client.engine->clearCallLog();
        client.engine->failNext(c.operation, c.code);
        EXPECT_EQ(c.call(*client.engine), -c.code) << name;
        run();
        EXPECT_EQ(client.take(), c.expected) << name;
        EXPECT_FALSE(client.engine->isLocalAudioMuted()) << name;
        EXPECT_EQ(client.engine->playbackVolume(), 100) << name;
        EXPECT_EQ(client.engine->callArguments(c.operation).size(), 1u) << name << " logged";
    }

    // A failure queued on the bus hits the next engine that makes the call, whichever it is.
    bus->failNext(MediaOperation::leaveChannel, 7);
    Client target = makeClient();
    Client other = makeClient();
    join(target, 9);
    EXPECT_EQ(target.engine->leaveChannel(), -7);
    EXPECT_EQ(other.engine->leaveChannel(), MediaCodes::kOk);
    EXPECT_TRUE(target.engine->isInChannel());
}

TEST_F(MediaEngineTest, AFailedJoinStillEndsWithALeaveAndATakenUidFailsTheJoin) {
    Client a = makeClient();
    Client b = makeClient();
    join(a, 1);
    join(b, 1);
    run();
    EXPECT_EQ(b.take(), (Events{"connection(2, 0)", "connection(5, 4)"}));
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{1}));
    b.engine->leaveChannel();
    run();
    EXPECT_EQ(b.take(), kLeft);

    Client c = makeClient();  // uid 0: the bus picks one
    join(c, 0);
    run();
    const std::uint64_t picked = c.engine->uid();
    EXPECT_NE(picked, 0u);
    EXPECT_EQ(c.take().at(2), "didJoinChannel(room, " + std::to_string(picked) + ")");
    EXPECT_EQ(bus->engineFor("room", picked), c.engine);
}

TEST_F(MediaEngineTest, VolumeReportsFollowTheScriptedLevelsAndStopWithTheLeave) {
    Client a = makeClient();
    Client b = makeClient();
    Client c = makeClient();
    a.engine->enableAudioVolumeIndication(200, 3, true);
    join(a, 1);
    join(b, 2);
    join(c, 3, /*broadcaster=*/false);
    a.engine->setVoiceLevel(30, true);
    b.engine->setVoiceLevel(50, true);
    c.engine->setVoiceLevel(90, true);  // audience: not heard
    run();
    a.take();
    b.take();

    clock->advance(199ms);
    run();
    EXPECT_TRUE(a.take().empty());
    clock->advance(1ms);
    run();
    EXPECT_EQ(a.take(), (Events{"volumes([0:30:1], 30)", "volumes([2:50:0], 50)"}));
    EXPECT_TRUE(b.take().empty()) << "no reports unless asked for";

    a.engine->muteRemoteAudioStream(2, true);
    clock->advance(200ms);
    run();
    EXPECT_EQ(a.take(),
              (Events{"remoteAudio(2, 0, 3)", "volumes([0:30:1], 30)", "volumes([], 0)"}));

    a.engine->leaveChannel();
    clock->advance(1s);
    run();
    EXPECT_EQ(a.take(), kLeft);
}

TEST_F(MediaEngineTest, DestroyingFromInsideACallbackIsSafe) {
    Client b = makeClient();
    join(b, 2);

    // Through the factory, as a wrapper would: destroy when the other broadcaster shows up.
    auto recorder = std::make_shared<Recorder>();
    auto factory = std::make_unique<MediaEngineFactory>(bus, queue);
    auto engine = factory->sharedEngineWithAppId("app", recorder);
    recorder->onEvent = [&](const std::string& event) {
        if (event == "didJoinedOfUid(2)") {
            factory->destroy();
            engine.reset();
            factory.reset();
        }
    };
    engine->setClientRole(MediaCodes::kRoleBroadcaster);
    engine->joinChannelByToken("t", "room", "", 1, {});
    run();
    EXPECT_EQ(recorder->events.back(), "didJoinedOfUid(2)") << "later callbacks are dropped";
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{2}));
    EXPECT_EQ(b.take().back(), "didOfflineOfUid(1, 0)");

    // The delegate holds the only reference and drops it inside a callback.
    struct Owner : Recorder {
        std::shared_ptr<MediaEngine> engine;
        void didJoinChannel(const std::string&, std::uint64_t, int) override { engine.reset(); }
    };
    auto owner = std::make_shared<Owner>();
    owner->engine = MediaEngine::create("app", owner, bus, queue);
    std::weak_ptr<MediaEngine> watch = owner->engine;
    owner->engine->joinChannelByToken("t", "room", "", 3, {});
    run();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(owner->events, (Events{"connection(2, 0)", "connection(3, 1)"}))
        << "nothing after the engine went";
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{2}));
}

TEST_F(MediaEngineTest, FactoryKeepsOneEngineUntilDestroyed) {
    MediaEngineFactory factory(bus, queue);
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    auto engine = factory.sharedEngineWithAppId("app-1", first);
    EXPECT_EQ(factory.sharedEngineWithAppId("app-2", second), engine);
    EXPECT_EQ(engine->appId(), "app-1");
    engine->inject([](MediaEngineDelegate& d) { d.didAudioRouteChanged(5); });
    run();
    EXPECT_TRUE(first->events.empty());
    EXPECT_EQ(second->take(), (Events{"route(5)"})) << "the latest delegate receives";

    factory.destroy();
    EXPECT_TRUE(engine->isDestroyed());
    EXPECT_EQ(factory.engine(), nullptr);
    auto fresh = factory.sharedEngineWithAppId("app-2", second);
    EXPECT_NE(fresh, engine);
    EXPECT_EQ(bus->engines().size(), 2u);  // the destroyed one is still referenced here

    // An engine destroyed behind the factory's back is not handed out again.
    fresh->destroy();
    auto replacement = factory.sharedEngineWithAppId("app-3", second);
    EXPECT_NE(replacement, fresh);
    EXPECT_FALSE(replacement->isDestroyed());
    EXPECT_EQ(replacement->joinChannelByToken("t", "room", "", 1, {}), MediaCodes::kOk);
}

TEST_F(MediaEngineTest, EnginesComingAndGoingOnOtherThreadsNeverReachAGoneDelegate) {
    queue = MainQueue::create();
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    Client listener = makeClient();
    listener.engine->enableAudioVolumeIndication(1, 3, true);
    join(listener, 100);
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                Client c = makeClient();  // its recorder dies with it, callbacks still queued
                c.engine->enableAudioVolumeIndication(1, 3, true);
                c.engine->setVoiceLevel(40, true);
                join(c, static_cast<std::uint64_t>(i + 1));
                c.engine->muteLocalAudioStream(round % 2 == 0);
                if (round % 3 == 0) {
                    c.engine->leaveChannel();
                } else if (round % 3 == 1) {
                    c.engine->destroy();
                }
            }
            ++finished;
        });
    }
    const bool done = queue->runUntil([&] { return finished.load() == kThreads; }, 10s);
    for (auto& thread : threads) {
        thread.join();
    }
    queue->runFor(20ms);  // at least one volume report after the last engine went
    // A tick posts the local and the remote report together; finish a pair that runFor split.
    queue->runPending();
    EXPECT_TRUE(done);
    EXPECT_EQ(bus->members("room"), (std::vector<std::uint64_t>{100}));
}

}  // namespace
}  // namespace kr::platform
