#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngine.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/Media/ScreenShareBroadcast.h"

namespace kr::platform {
namespace {

using Texts = std::vector<std::string>;

class Listener : public MediaEngineDelegate {
public:
    Texts events;
    Texts take() { return std::exchange(events, {}); }

    void didJoinedOfUid(std::uint64_t uid, int) override {
        events.push_back("joined(" + std::to_string(uid) + ")");
    }
    void didOfflineOfUid(std::uint64_t uid, int reason) override {
        events.push_back("offline(" + std::to_string(uid) + ", " + std::to_string(reason) + ")");
    }
    void remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int, int) override {
        events.push_back("audio(" + std::to_string(uid) + ", " + std::to_string(state) + ")");
    }
    void remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int, int) override {
        events.push_back("video(" + std::to_string(uid) + ", " + std::to_string(state) + ")");
    }
    void networkQuality(std::uint64_t uid, int tx, int rx) override {
        events.push_back("quality(" + std::to_string(uid) + ", " + std::to_string(tx) + ", " +
                         std::to_string(rx) + ")");
    }
    void reportRtcStats(const ChannelStats& stats) override {
        events.push_back("stats(" + std::to_string(stats.lastmileDelay) + ")");
    }
    void localAudioMixingStateDidChanged(int state, int reason) override {
        events.push_back("mixing(" + std::to_string(state) + ", " + std::to_string(reason) + ")");
    }
};

class MediaEngineScriptsTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> clock = ManualClock::create();
    std::shared_ptr<MainQueue> queue = MainQueue::create(clock);
    std::shared_ptr<MediaBus> bus = MediaBus::create();

    struct Peer {
        std::shared_ptr<Listener> listener = std::make_shared<Listener>();
        std::shared_ptr<MediaEngine> engine;
    };
    Peer joined(std::uint64_t uid) {
        Peer peer;
        peer.engine = MediaEngine::create("app", peer.listener, bus, queue);
        peer.engine->enableVideo();
        peer.engine->setClientRole(MediaCodes::kRoleBroadcaster);
        peer.engine->joinChannelByToken("", "room", "", uid, {});
        queue->runPending();
        peer.listener->take();
        return peer;
    }
    void run() { queue->runPending(); }
};

TEST_F(MediaEngineScriptsTest, AudioMixingNeedsAnExistingFile) {
    test::ScopedTempDirectory dir;
    const auto file = dir.path() / "chime.wav";
    std::ofstream(file) << "RIFF";
    Peer peer = joined(1);
    EXPECT_EQ(peer.engine->startAudioMixing(file.string(), true, false, 1, 0), MediaCodes::kOk);
    EXPECT_EQ(peer.engine->startAudioMixing((dir.path() / "none.wav").string(), true, false, 1, 0),
              MediaCodes::kErrInvalidArgument);
    EXPECT_EQ(peer.engine->startAudioMixing(dir.path().string(), true, false, 1, 0),
              MediaCodes::kErrInvalidArgument)
        << "a directory is not a file";
    EXPECT_TRUE(peer.listener->events.empty()) << "reported inside the call";
    run();
    EXPECT_EQ(peer.listener->take(), (Texts{"mixing(710, 0)", "mixing(714, 701)",
                                            "mixing(714, 701)"}));
}

TEST_F(MediaEngineScriptsTest, ScriptedQualityAndStatisticsFollowTheSession) {
    Peer a = joined(1);
    Peer b = joined(2);
    a.listener->take();
    a.engine->reportNetworkQuality(2, 3);
    a.engine->reportStatistics(ChannelStats{.lastmileDelay = 33});
    EXPECT_TRUE(a.listener->events.empty());
    run();
    EXPECT_EQ(a.listener->take(), (Texts{"quality(0, 2, 3)", "stats(33)"}));
    EXPECT_EQ(b.listener->take(), Texts{"quality(1, 2, 3)"});

    a.engine->reportNetworkQuality(1, 1);
    a.engine->leaveChannel();
    run();
    a.engine->reportNetworkQuality(1, 1);
    a.engine->reportStatistics(ChannelStats{});
    run();
    EXPECT_TRUE(a.listener->take().empty()) << "nothing for an ended session";
}

TEST_F(MediaEngineScriptsTest, ScreenShareIsAVideoOnlyBroadcasterOfTheChannel) {
    Peer viewer = joined(1);
    test::ScreenShareBroadcast share(bus, queue);
    share.start("room", 77);
    run();
    EXPECT_EQ(viewer.listener->take(), (Texts{"joined(77)", "video(77, 2)"}));
    ASSERT_TRUE(share.engine());
    EXPECT_EQ(share.engine()->uid(), 77u);

    share.stop();
    run();
    EXPECT_EQ(viewer.listener->take(), Texts{"offline(77, 0)"});
    EXPECT_FALSE(share.engine());
}

}  // namespace
}  // namespace kr::platform
