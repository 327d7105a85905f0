#include "testing/Media/KrMediaTestEngine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"

namespace kr::test {
namespace {

// Keeps the ids of the peers the engine reports, and the relayed messages.
class Receiver final : public RtcManagerDelegate, public RtmManagerDelegate {
public:
    std::vector<std::string> events;

    void didLocalParticipantJoinChannel(const Peer& peer, Completion completion) override {
        events.push_back("local " + peer->id());
        completion();
    }
    void didRemoteParticipantJoinChannel(const Peer& peer, Completion completion) override {
        events.push_back("remote " + peer->id());
        completion();
    }
    void didRemoteParticipantLeaveChannel(const std::string& id,
                                          const KRUserLeftReason& /*reason*/) override {
        events.push_back("left " + id);
    }
    void didRecievePublicMessage(const KRRtmMessage& message) override {
        events.push_back("message from " + message.senderUserId);
    }
    void didRecievePrivateMessage(const KRRtmMessage& /*message*/) override {}
};

TEST(KrMediaTestEngineTest, TwoHostEnginesMeetOnTheMeetingIdAndCarryMessages) {
    auto clock = platform::ManualClock::create();
    auto queue = platform::MainQueue::create(clock);
    KRDependencies dependencies;
    dependencies.queue = queue;
    dependencies.mediaBus = platform::MediaBus::create();
    dependencies.messagingService = platform::MessagingService::create();

    auto one = KrMediaTestEngine::create(dependencies, {.uid = 11, .initialAudioOn = true});
    auto two = KrMediaTestEngine::create(dependencies, {.uid = 12});
    auto r1 = std::make_shared<Receiver>();
    auto r2 = std::make_shared<Receiver>();
    const boost::json::object join = {{"meetingId", "m-1"},
                                      {"meetingPin", "1234"},
                                      {"displayName", "Ann"},
                                      {"serverEnvironment", "dev"}};
    for (const auto& [engine, receiver] : {std::pair{one, r1}, std::pair{two, r2}}) {
        engine->configureRtcEngine({}, receiver);
        engine->setRtmDelegate(receiver);
        engine->joinRoom(join);
        queue->runPending();
    }
    EXPECT_EQ(r1->events, (std::vector<std::string>{"local 11", "remote 12"}));
    EXPECT_EQ(r2->events, (std::vector<std::string>{"local 12", "remote 11"}));
    EXPECT_EQ(dependencies.mediaBus->members(KrMediaTestEngine::channelFor("m-1")),
              (std::vector<std::uint64_t>{11, 12}));
    EXPECT_EQ(one->configureData(), std::vector<boost::json::object>{{}});
    EXPECT_EQ(one->joinData(), std::vector<boost::json::object>{join});

    // Joining again while connected (the network came back) changes nothing.
    one->joinRoom(join);
    queue->runPending();
    EXPECT_EQ(one->joinData().size(), 2u);
    EXPECT_EQ(r1->events.size(), 2u);

    KRRtmMessage message;
    message.message = KRRtmMessageEvent::participantRaiseHand;
    message.senderUserId = "u11";
    one->sendPublicMessage(message);
    two->leaveRtcChannel();
    queue->runPending();
    EXPECT_EQ(r2->events.back(), "message from u11");
    EXPECT_EQ(r1->events.back(), "left 12");
}

}  // namespace
}  // namespace kr::test
