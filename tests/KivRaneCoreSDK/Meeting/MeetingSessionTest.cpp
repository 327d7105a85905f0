// A meeting's life: the session's end, timers and token on their own, then every host call and
// engine report in every state of the client's meeting (a recording stand-in plays the media
// backend on the join without server calls, on a manual clock).

#include "KivRaneCoreSDK/Meeting/MeetingSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "testing/KRClientTestSeam.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "support/EngineTestDelegate.h"
#include "support/FakeMediaBackend.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using State = MeetingSession::State;
using Lines = std::vector<std::string>;

const char* name(State state) {
    switch (state) {
        case State::joining: return "joining";
        case State::awaitingMedia: return "awaitingMedia";
        case State::inMeeting: return "inMeeting";
        case State::leaving: return "leaving";
        case State::ended: return "ended";
    }
    return "?";
}
constexpr State kStates[] = {State::joining, State::awaitingMedia, State::inMeeting,
                             State::leaving, State::ended};

class MeetingSessionTest : public ::testing::Test {
protected:
    /// Second by second, so that a repeating timer ticks once per second passed.
    void advance(std::chrono::seconds d) {
        for (auto left = d; left > 0s; left -= 1s) {
            clock->advance(1s);
            queue->runPending();
        }
    }
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
};

TEST_F(MeetingSessionTest, EndRunsOnceEvenWhenItsOwnTeardownEndsItAgain) {
    MeetingSession session(queue);
    const auto token = session.token();
    int children = 0;
    std::optional<bool> nested;
    EXPECT_TRUE(session.end(MeetingSession::EndReason::joinFailed, [&] {
        ++children;
        // A backend that reports its leave at once, inside the teardown.
        EXPECT_FALSE(token.live());
        EXPECT_EQ(session.state(), State::ended);
        nested = session.end(MeetingSession::EndReason::left, [&] { ++children; });
    }));
    EXPECT_EQ(nested, false);
    EXPECT_FALSE(session.end(MeetingSession::EndReason::left, [&] { ++children; }));
    EXPECT_EQ(children, 1);
    EXPECT_EQ(session.endReason(), MeetingSession::EndReason::joinFailed);
    // Nothing leads out of the end.
    EXPECT_FALSE(session.awaitMedia());
    EXPECT_FALSE(session.reachMeeting());
    EXPECT_FALSE(session.startLeaving());
    EXPECT_EQ(session.state(), State::ended);
}

TEST_F(MeetingSessionTest, NoTimerOfAnEndedSessionFiresIntoTheNextOne) {
    struct Counts {
        int timeout = 0, get = 0, post = 0, watchdog = 0;
    };
    const auto start = [&](MeetingSession& s, Counts& c) {
        s.armJoinTimeout(60s, [&c] { ++c.timeout; });
        s.startPolling(5s, [&c] { ++c.get; }, [&c] { ++c.post; });
        s.startWatchdog(1s, [&c] { ++c.watchdog; });
    };
    Counts first, second;
    auto old = std::make_unique<MeetingSession>(queue);
    start(*old, first);
    advance(5s);
    EXPECT_EQ(first.get, 1);
    EXPECT_EQ(first.watchdog, 6);  // at once, then every second
    old->end(MeetingSession::EndReason::joinFailed);
    EXPECT_FALSE(old->hasPollingTimers() || old->hasWatchdog());
    MeetingSession next(queue);
    start(next, second);
    advance(60s);
    EXPECT_EQ(first.timeout, 0);
    EXPECT_EQ(first.get, 1);
    EXPECT_EQ(first.post, 1);
    EXPECT_EQ(first.watchdog, 6);
    EXPECT_EQ(second.timeout, 1);
    EXPECT_EQ(second.get, 12);
    // A session dropped without an end takes its timers along.
    old.reset();
    MeetingSession dropped(queue);
    Counts third;
    {
        auto gone = std::make_unique<MeetingSession>(queue);
        start(*gone, third);
    }
    advance(60s);
    EXPECT_EQ(third.timeout, 0);
    EXPECT_EQ(third.get, 0);
    EXPECT_EQ(third.watchdog, 1);  // the start's own tick only
}

TEST_F(MeetingSessionTest, ATokenIsLiveOnlyUntilItsOwnSessionEnds) {
    EXPECT_FALSE(MeetingSession::Token{}.live());  // outside any meeting nothing is current
    MeetingSession earlier(queue);
    const auto earlierToken = earlier.token();
    const auto earlierReply = earlier.token();
    earlier.end(MeetingSession::EndReason::joinFailed);
    MeetingSession later(queue);
    const auto laterToken = later.token();
    EXPECT_FALSE(earlierToken.live());
    EXPECT_TRUE(laterToken.live());
    EXPECT_TRUE(earlierToken.sameSession(earlierReply));
    EXPECT_FALSE(earlierToken.sameSession(laterToken));
    later.startLeaving();
    EXPECT_TRUE(laterToken.live());  // a leave's own replies still count
}

// ---- The client's meeting in each state ----

/// A client whose joins get recording stand-in backends, on a manual clock.
struct World {
    World() : client(test::makeClientWithMediaCredentials(queue, bus)) {
        test::recordBackends(*client, made);
    }

    void run() { queue->runPending(); }
    void startJoin() {
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), heard);
        run();
    }
    /// Takes a fresh client's meeting to `state` the way the host and the engine would.
    void reach(State state) {
        startJoin();
        if (state == State::awaitingMedia) internals(client).mediaJoinRequested();
        if (state == State::inMeeting || state == State::leaving || state == State::ended) {
            internals(client).completeLocalMediaJoin("42");
        }
        if (state == State::leaving || state == State::ended) {
            client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        }
        if (state == State::ended) internals(client).handleLocalMediaLeft();
        run();
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<test::EngineTestDelegate> heard =
        std::make_shared<test::EngineTestDelegate>(queue);
    std::shared_ptr<KRClient> client;
    std::vector<std::shared_ptr<test::FakeMediaBackend>> made;
};

/// One host call or engine report: the states it acts in, and then the state it leads to, what
/// the host hears and what the meeting's backend is asked. In any other state it does nothing.
struct Operation {
    const char* name;
    std::function<void(World&)> call;
    std::set<State> actsIn;
    std::function<State(State)> to;
    std::function<Lines(State)> heard;
    std::function<Lines(State)> backend;
};

State same(State s) { return s; }
Lines none(State) { return {}; }

TEST(KRClientMeetingStateTable, EveryOperationInEveryState) {
    const auto joiningOrAwaiting = std::set<State>{State::joining, State::awaitingMedia};
    const std::vector<Operation> operations = {
        {"join", [](World& w) { w.startJoin(); }, {State::ended},
         [](State) { return State::joining; }, none, [](State) { return Lines{"join"}; }},
        {"leave",
         [](World& w) {
             w.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
         },
         {State::joining, State::awaitingMedia, State::inMeeting},
         [](State) { return State::leaving; }, none, [](State) { return Lines{"leave"}; }},
        {"media joined",
         [](World& w) { internals(w.client).completeLocalMediaJoin("42"); },
         joiningOrAwaiting, [](State) { return State::inMeeting; },
         [](State) { return Lines{"joined 42"}; }, none},
        {"media left", [](World& w) { internals(w.client).handleLocalMediaLeft(); },
         {State::inMeeting, State::leaving}, [](State) { return State::ended; },
         [](State) { return Lines{"left"}; }, none},
        // During the leave, as long a wait ends the leave its media never reported.
        {"join time-out",
         [](World& w) { w.clock->advance(ClientCore::kJoinTimeout); },
         {State::joining, State::awaitingMedia, State::leaving},
         [](State) { return State::ended; },
         [](State s) { return Lines{s == State::leaving ? "left" : "failed timed out"}; },
         [](State s) {
             return Lines{s == State::leaving         ? "abandon leave report"
                          : s == State::awaitingMedia ? "cancel awaited join"
                                                      : "cancel join"};
         }},
        {"failed join",
         [](World& w) { internals(w.client).failJoin(KRMeetingJoinError::other("x")); },
         joiningOrAwaiting, [](State) { return State::ended; },
         [](State) { return Lines{"failed x"}; },
         [](State s) {
             return Lines{s == State::awaitingMedia ? "cancel awaited join" : "cancel join"};
         }},
        {"mute", [](World& w) { w.client->muteLocalAudio(true); },
         {State::awaitingMedia, State::inMeeting}, same, none,
         [](State) { return Lines{"mute audio"}; }},
        {"awaiting media", [](World& w) { internals(w.client).mediaJoinRequested(); },
         {State::joining}, [](State) { return State::awaitingMedia; }, none, none},
    };
    for (const Operation& op : operations) {
        for (const State state : kStates) {
            SCOPED_TRACE(std::string(op.name) + " while " + name(state));
            World f;
            f.reach(state);
            ASSERT_EQ(internals(f.client).meetingState(), state);
            ASSERT_EQ(f.made.size(), 1u);
            const auto heardBefore = f.heard->lines.size();
            const auto askedBefore = f.made[0]->lines.size();
            op.call(f);
            f.run();
            const bool acts = op.actsIn.count(state) > 0;
            EXPECT_EQ(internals(f.client).meetingState(), acts ? op.to(state) : state);
            // A join while a meeting is active is refused on its own delegate (here the same
            // one); during the leave it waits for the leave's end.
            const bool refusedJoin = std::string(op.name) == "join" && !acts &&
                                     state != State::leaving;
            EXPECT_EQ(Lines(f.heard->lines.begin() + heardBefore, f.heard->lines.end()),
                      acts          ? op.heard(state)
                      : refusedJoin ? Lines{"failed A meeting is still active or leaving"}
                                    : Lines{});
            // A join asks a backend of its own; everything else asks the meeting's.
            const auto& asked = f.made.back()->lines;
            EXPECT_EQ(Lines(asked.begin() + (f.made.size() > 1 ? 0 : askedBefore), asked.end()),
                      acts ? op.backend(state) : Lines{});
            EXPECT_EQ(f.made.size(), std::string(op.name) == "join" && acts ? 2u : 1u);
        }
    }
}

}  // namespace
}  // namespace kr
