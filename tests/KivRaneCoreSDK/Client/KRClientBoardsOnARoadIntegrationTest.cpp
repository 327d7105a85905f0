// What the others' apps are told of a sharer's boards when one of her messages is lost. Clients on
// the local meeting service (real HTTPS, real clock), each row on one engine road.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingOperation.h"
#include "support/RoadMeeting.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using test::Road;
using Member = test::RoadMember;

/// The engine's lines, and the boards: "board started <address>", "board stopped by <id>".
class BoardsHeard : public test::EngineTestDelegate {
public:
    using EngineTestDelegate::EngineTestDelegate;
    void didWhiteboardStarted(const KRMeeting&, const std::string&, const std::string& url,
                              const std::string&) override {
        lines.push_back("board started " + url);
    }
    void didWhiteboardStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        lines.push_back("board stopped by " + (by ? by->id() : std::string("-")));
    }
    std::vector<std::string> boards() const {
        std::vector<std::string> told;
        for (const std::string& l : lines)
            if (l.rfind("board ", 0) == 0)
                told.push_back(l);
        return told;
    }
};

class KRClientBoardsOnARoadIntegrationTest : public test::RoadMeeting,
                                             public ::testing::WithParamInterface<Road> {
protected:
    std::shared_ptr<test::EngineTestDelegate> makeDelegate() override {
        return std::make_shared<BoardsHeard>(main);
    }
    static std::vector<std::string> boardsTold(const Member& m) {
        return static_cast<const BoardsHeard&>(*m.heard).boards();
    }
    bool call(const std::function<void(KRClient::Completion)>& what) {
        std::optional<bool> done;
        what([&](bool ok) { done = ok; });
        return main->runUntil([&] { return done.has_value(); }, 5s) && *done;
    }
    /// The address `m` shows names the board open at the service.
    bool showsOpenBoard(const Member& m) const {
        const std::string open = service.room(room.meetingId)->whiteboardId;
        return !open.empty() &&
               m.client->whiteboardUrl().find("/whiteboard/" + open + "?") != std::string::npos;
    }
    std::size_t overridesSentBy(const Member& m) const {
        std::size_t sent = 0;
        for (const auto& record : messaging->sentMessages()) {
            const auto message = KRRtmMessage::decode(record.text);
            sent += record.from == m.uid() && message &&
                    message->message == KRRtmMessageEvent::participantOverrideScreenShare;
        }
        return sent;
    }
};

INSTANTIATE_TEST_SUITE_P(Roads, KRClientBoardsOnARoadIntegrationTest,
                         ::testing::Values(Road::defaultEngine, Road::agora, Road::krMedia),
                         test::roadTestName);

TEST_P(KRClientBoardsOnARoadIntegrationTest,
       ASharersNextBoardAfterAnUnheardStopIsToldAsStopThenStart) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const auto start = [&](auto done) { b.client->startWhitebboard(false, "B", b.uid(), done); };
    ASSERT_TRUE(call(start));
    ASSERT_TRUE(main->runUntil([&] { return showsOpenBoard(a) && showsOpenBoard(host); }, 5s));
    main->runFor(200ms);
    const std::string firstA = a.client->whiteboardUrl(), firstHost = host.client->whiteboardUrl();
    ASSERT_EQ(boardsTold(a), std::vector<std::string>{"board started " + firstA});
    ASSERT_EQ(boardsTold(host), std::vector<std::string>{"board started " + firstHost});

    // Her stop's message is lost, and her next board starts at once.
    messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                        platform::MessagingCodes::kFailure, b.uid());
    ASSERT_TRUE(call([&](auto done) { b.client->stopWhiteboard(done); }));
    ASSERT_TRUE(call(start));
    ASSERT_TRUE(main->runUntil([&] { return showsOpenBoard(a) && showsOpenBoard(host); }, 5s));
    main->runFor(300ms);
    ASSERT_TRUE(everyoneReplied());

    for (const Member* m : {&a, &host}) {
        SCOPED_TRACE(m == &a ? "a" : "host");
        EXPECT_TRUE(showsOpenBoard(*m));
        const std::string first = m == &a ? firstA : firstHost;
        EXPECT_EQ(boardsTold(*m),
                  (std::vector<std::string>{"board started " + first, "board stopped by " + b.uid(),
                                            "board started " + m->client->whiteboardUrl()}));
        EXPECT_EQ(overridesSentBy(*m), 0u);
    }
}

TEST_P(KRClientBoardsOnARoadIntegrationTest, AnAccessAnswerAskedBeforeTheNextBoardsLeavesItShown) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const auto start = [&](auto done) { b.client->startWhitebboard(false, "B", b.uid(), done); };
    const auto loseNextMessageOfB = [&] {
        messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                            platform::MessagingCodes::kFailure, b.uid());
    };
    // Nobody hears of her first board; A reads it from the room's status, and the access it asks
    // for is answered 2 s late.
    loseNextMessageOfB();
    ASSERT_TRUE(call(start));
    service.injectFault(test::MeetingServiceRoute::remoteWhiteboard,
                        test::MeetingServiceFault::delayed(2000ms).times(1));
    const std::size_t asked = service.requestCount(test::MeetingServiceRoute::remoteWhiteboard);
    internals(a.client).roomSync().fetchRoomStatus({});
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(test::MeetingServiceRoute::remoteWhiteboard) > asked; }, 5s));
    // Meanwhile she stops it unheard and starts her next board, which everyone hears of.
    loseNextMessageOfB();
    ASSERT_TRUE(call([&](auto done) { b.client->stopWhiteboard(done); }));
    ASSERT_TRUE(call(start));
    ASSERT_TRUE(main->runUntil([&] { return showsOpenBoard(a) && showsOpenBoard(host); }, 5s));
    main->runFor(2500ms);  // the late answer, which names her first board, arrives
    for (const Member* m : {&a, &host}) {
        SCOPED_TRACE(m == &a ? "a" : "host");
        EXPECT_TRUE(showsOpenBoard(*m));
        EXPECT_EQ(boardsTold(*m), std::vector<std::string>{"board started " + m->client->whiteboardUrl()});
    }
}

}  // namespace
}  // namespace kr
