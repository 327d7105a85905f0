// The join steps of the room engine backend against the local meeting service (real HTTPS):
// every fault of every server call ends the join once and leaves nothing behind, a client going
// away in the middle of a step, leave and join again seen by the others, the lock refusing a
// joiner, and recording, which this backend cannot start itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <functional>
#include <map>
#include <optional>

#include "support/MultiMediaMeeting.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace test;
using R = MeetingServiceRoute;
using JoinKind = KRMeetingJoinError::Kind;

/// The room engine recorder, plus the meeting-state events and the join failures by kind.
class JoinRecorder : public RoomEngineRecorder {
public:
    std::vector<KRMeetingJoinError> failures;

    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override {
        failures.push_back(error);
        RoomEngineRecorder::didLocalUserFailedToJoinMeeting(error);
    }
    void didMeetingLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("locked");
    }
    void didMeetingUnLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("unlocked");
    }
    void didRecordingStarted(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("recording started");
    }
    void didRecordingStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("recording stopped");
    }
    void didErrorOccured(const KRMeetingError& error) override {
        lines.push_back("error " + std::to_string(static_cast<int>(error.kind)));
    }
    std::size_t count(const std::string& line, std::size_t from = 0) const {
        return static_cast<std::size_t>(
            std::count(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                       lines.end(), line));
    }
};

enum class Engine { agora, krMedia };
enum class Role { guest, host };

const char* name(Engine e) {
    return e == Engine::agora ? "agora" : "kr-media";
}
const char* name(Role r) {
    return r == Role::guest ? "guest" : "host";
}
KRUserRole roleOf(Role r) {
    return r == Role::host ? KRUserRole::host(kHostToken) : KRUserRole::speaker();
}

constexpr const char* kKrMeetingId = "5550001111";

class KRClientMultiMediaJoinIntegrationTest : public MultiMediaMeetingTest {
protected:
    explicit KRClientMultiMediaJoinIntegrationTest(
        std::shared_ptr<platform::Clock> clock = platform::SteadyClock::instance())
        : MultiMediaMeetingTest(std::move(clock)) {
        MeetingRoomSetup kr;
        kr.meetingId = kKrMeetingId;
        kr.roomId = "room-kr";
        kr.mediaEngine = "kr-media";
        service.addRoom(kr);
    }

    static std::string meetingOf(Engine e) {
        return e == Engine::agora ? "1234567890" : kKrMeetingId;
    }
    static std::string channelOf(Engine e) {
        return e == Engine::agora ? "room-1" : KrMediaTestEngine::channelFor(kKrMeetingId);
    }

    static JoinRecorder& rec(const Member& m) { return static_cast<JoinRecorder&>(*m.recorder); }

    /// A client on this backend that starts joining; "kr-media" rooms get the host's test engine.
    Member& begin(Engine engine, const std::string& who, Role role) {
        Member m{KRClient::create(deps()), std::make_shared<JoinRecorder>()};
        m.client->setMultiMediaEngineIntegration(true);
        if (engine == Engine::krMedia) {
            m.client->setRtcEngineManager(KrMediaTestEngine::create(deps()));
        }
        members.push_back(m);
        joinAgain(members.back(), engine, who, role);
        return members.back();
    }

    void joinAgain(Member& m, Engine engine, const std::string& who, Role role) {
        m.client->joinMeeting(KRJoinMeetingData(meetingOf(engine), "4321", who),
                              KRJoinMeetingConfig(roleOf(role), true, true), m.recorder);
    }

    /// Runs until the join ended one way or the other.
    bool ended(Member& m) {
        return main->runUntil(
            [&] { return m.recorder->has("joined") || m.recorder->startsWith("join failed"); },
            10s);
    }

    Member& joined(Engine engine, const std::string& who, Role role = Role::guest) {
        Member& m = begin(engine, who, role);
        EXPECT_TRUE(ended(m)) << who;
        EXPECT_TRUE(m.recorder->has("joined")) << who;
        return m;
    }

    bool leave(Member& m) {
        m.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        return main->runUntil([&] { return m.recorder->startsWith("left"); }, 10s);
    }

    bool await(const std::function<void(KRClient::Completion)>& call) {
        std::optional<bool> result;
        call([&](bool ok) { result = ok; });
        EXPECT_TRUE(main->runUntil([&] { return result.has_value(); }, 10s));
        return result.value_or(false);
    }

    std::shared_ptr<KrMediaTestEngine> krEngine(const Member& m) {
        return std::dynamic_pointer_cast<KrMediaTestEngine>(m.client->rtcEngineManager());
    }

    /// The server calls of this backend's join, in the order the role makes them.
    static std::vector<R> callsOf(Role role) {
        if (role == Role::host) {
            return {R::configuration, R::guestLogin, R::roomDetails, R::postRoomConnectionStatus,
                    R::getRoomConnectionStatus};
        }
        return {R::configuration, R::roomDetails, R::guestLogin, R::postRoomConnectionStatus,
                R::getRoomConnectionStatus};
    }
};

TEST_F(KRClientMultiMediaJoinIntegrationTest, EveryFaultOfEveryJoinCallEndsTheJoinExactlyOnce) {
    struct Row {
        R route;
        MeetingServiceFault fault;
        const char* faultName;
        Engine engine;
        Role role;
        std::optional<JoinKind> failure;  // nullopt: the join goes on without this reply
    };
    const auto status500 = MeetingServiceFault::withStatus(500);
    const auto malformed = MeetingServiceFault::malformedJson();
    const auto dropped = MeetingServiceFault::dropConnection();
    const auto refused = MeetingServiceFault::withStatus(200, R"({"success":false})");
    std::vector<Row> table;
    for (Role role : {Role::guest, Role::host}) {
        // Before the engine is set up: the room's engine plays no part but must never be asked.
        for (Engine engine : {Engine::agora, Engine::krMedia}) {
            table.push_back({R::configuration, status500, "500", engine, role, JoinKind::other});
            table.push_back({R::roomDetails, status500, "500", engine, role, JoinKind::other});
            table.push_back({R::guestLogin, status500, "500", engine, role, JoinKind::other});
        }
        table.push_back({R::configuration, malformed, "malformed", Engine::agora, role,
                         JoinKind::invalidConfiguration});
        table.push_back(
            {R::configuration, dropped, "dropped", Engine::agora, role, JoinKind::other});
        table.push_back(
            {R::roomDetails, malformed, "malformed", Engine::agora, role, JoinKind::other});
        table.push_back({R::roomDetails, dropped, "dropped", Engine::agora, role, JoinKind::other});
        table.push_back({R::guestLogin, malformed, "malformed", Engine::agora, role,
                         JoinKind::failedToRegisterUser});
        table.push_back({R::guestLogin, dropped, "dropped", Engine::agora, role, JoinKind::other});
        // After the engine entered the media channel: the channel must be left again.
        for (Engine engine : {Engine::agora, Engine::krMedia}) {
            for (const auto& [fault, faultName] :
                 {std::pair{status500, "500"}, std::pair{malformed, "malformed"},
                  std::pair{dropped, "dropped"}, std::pair{refused, "success false"}}) {
                table.push_back(
                    {R::postRoomConnectionStatus, fault, faultName, engine, role, JoinKind::other});
            }
            // The first status fetch is only the first poll: the join is complete without it.
            for (const auto& [fault, faultName] :
                 {std::pair{status500, "500"}, std::pair{malformed, "malformed"},
                  std::pair{dropped, "dropped"}}) {
                table.push_back(
                    {R::getRoomConnectionStatus, fault, faultName, engine, role, std::nullopt});
            }
        }
    }

    for (const auto& row : table) {
        SCOPED_TRACE(std::string(routeName(row.route)) + " " + row.faultName + " " +
                     name(row.engine) + " " + name(row.role));
        service.clearFaults();
        service.injectFault(row.route, row.fault);
        const auto calls = callsOf(row.role);
        std::map<R, std::size_t> before;
        for (R route : calls)
            before[route] = service.requestCount(route);

        Member& m = begin(row.engine, "Zed", row.role);
        JoinRecorder& r = rec(m);
        ASSERT_TRUE(ended(m));
        main->runFor(150ms);
        if (row.failure) {
            ASSERT_EQ(r.failures.size(), 1u) << ::testing::PrintToString(r.lines);
            EXPECT_EQ(r.failures[0].kind, *row.failure) << r.failures[0].message;
            EXPECT_EQ(r.lines.size(), 1u)
                << ::testing::PrintToString(r.lines);  // no join, no leave
            EXPECT_TRUE(
                main->runUntil([&] { return bus->members(channelOf(row.engine)).empty(); }, 5s));
            EXPECT_FALSE(internals(m.client).isJoining());
            EXPECT_FALSE(internals(m.client).hasPollingTimers());
            EXPECT_FALSE(internals(m.client).hasConnectionCheckTimer());
            // Nor does the room socket the guest login opened stay connected.
            EXPECT_FALSE(internals(m.client).webSocketManager());
            EXPECT_TRUE(main->runUntil(
                [&] { return service.roomSocket().openConnectionCount() == 0; }, 5s));
            if (row.engine == Engine::krMedia && row.route != R::postRoomConnectionStatus) {
                const auto engine = krEngine(m);
                ASSERT_TRUE(engine);
                EXPECT_TRUE(engine->joinData().empty());  // never asked into the channel
            }
        } else {
            EXPECT_TRUE(r.failures.empty());
            EXPECT_EQ(r.lines, Lines{"joined"});
            EXPECT_TRUE(internals(m.client).hasPollingTimers());
            EXPECT_EQ(bus->members(channelOf(row.engine)).size(), 1u);
        }
        // The calls go in the role's order and stop at the faulted one.
        bool reached = false;
        for (R route : calls) {
            const std::size_t made = service.requestCount(route) - before[route];
            if (route == row.route && row.fault.kind == MeetingServiceFault::Kind::dropConnection) {
                // The HTTP stack sends a request once more when a kept-alive connection closes.
                EXPECT_GE(made, 1u);
                EXPECT_LE(made, 2u);
            } else {
                EXPECT_EQ(made, reached && row.failure ? 0u : 1u) << routeName(route);
            }
            reached = reached || route == row.route;
        }

        // The same client joins once the service answers again.
        service.clearFaults();
        if (row.failure) {
            r.lines.clear();
            joinAgain(m, row.engine, "Zed", row.role);
            ASSERT_TRUE(ended(m));
            EXPECT_EQ(r.lines, Lines{"joined"});
            EXPECT_EQ(bus->members(channelOf(row.engine)).size(), 1u);
        }
        ASSERT_TRUE(leave(m));
        EXPECT_TRUE(
            main->runUntil([&] { return bus->members(channelOf(row.engine)).empty(); }, 5s));
        members.clear();
    }
}

TEST_F(KRClientMultiMediaJoinIntegrationTest,
       AJoinTriedAgainAtOnceIsNotEndedByTheFailedJoinsChannel) {
    for (Engine engine : {Engine::agora, Engine::krMedia}) {
        SCOPED_TRACE(name(engine));
        // The failed join already entered the media channel; its leave is reported later.
        service.injectFault(R::postRoomConnectionStatus,
                            MeetingServiceFault::withStatus(500).times(1));
        Member& m = begin(engine, "Zed", Role::guest);
        JoinRecorder& r = rec(m);
        ASSERT_TRUE(main->runUntil([&] { return !r.failures.empty(); }, 10s));
        r.lines.clear();
        joinAgain(m, engine, "Zed", Role::guest);  // the host tries again as soon as it hears
        ASSERT_TRUE(ended(m)) << ::testing::PrintToString(r.lines);
        EXPECT_EQ(r.lines, Lines{"joined"});
        EXPECT_EQ(r.failures.size(), 1u);
        EXPECT_TRUE(internals(m.client).hasPollingTimers());
        EXPECT_TRUE(
            main->runUntil([&] { return bus->members(channelOf(engine)).size() == 1; }, 5s));
        ASSERT_TRUE(leave(m));
        members.clear();
    }
}

TEST_F(KRClientMultiMediaJoinIntegrationTest, TheLocalJoinIsReportedOnlyOnceTheJoinIsComplete) {
    for (Engine engine : {Engine::agora, Engine::krMedia}) {
        SCOPED_TRACE(name(engine));
        Member& host = joined(engine, "Hostess", Role::host);
        // The room learns of the joiner (and tells every socket) before its first status fetch
        // is answered: the join is not complete until then.
        service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(600ms));
        Member& m = begin(engine, "Zed", Role::guest);
        ASSERT_TRUE(ended(m));
        EXPECT_FALSE(internals(m.client).isJoining());
        EXPECT_TRUE(internals(m.client).hasPollingTimers());
        ASSERT_TRUE(seesEachOther(host, m));
        main->runFor(200ms);
        EXPECT_EQ(rec(m).count("joined"), 1u);
        service.clearFaults();
        for (Member* each : {&host, &m})
            ASSERT_TRUE(leave(*each));
        members.clear();
    }
}

TEST_F(KRClientMultiMediaJoinIntegrationTest, DestroyingTheClientInTheMiddleOfEachJoinCallIsSafe) {
    for (Engine engine : {Engine::agora, Engine::krMedia}) {
        for (Role role : {Role::guest, Role::host}) {
            for (R route : callsOf(role)) {
                SCOPED_TRACE(std::string(routeName(route)) + " " + name(engine) + " " + name(role));
                service.clearFaults();
                service.injectFault(route, MeetingServiceFault::delayed(150ms));
                const auto before = service.requestCount(route);
                Member& m = begin(engine, "Gone", role);
                const auto recorder = m.recorder;
                for (int i = 0; i < 200 && service.requestCount(route) == before; ++i) {
                    main->runFor(10ms);
                }
                ASSERT_GT(service.requestCount(route), before);
                // Participants that earlier clients left behind on the server may be reported;
                // the join itself is not complete.
                EXPECT_FALSE(recorder->has("joined"));
                const Lines heard = recorder->lines;
                const std::weak_ptr<KRClient> client = m.client;
                members.clear();  // the client goes while its request is in flight
                EXPECT_TRUE(client.expired());
                main->runFor(300ms);
                EXPECT_EQ(recorder->lines, heard);
                // Nobody stays in the media channel for a client that is gone.
                EXPECT_TRUE(
                    main->runUntil([&] { return bus->members(channelOf(engine)).empty(); }, 5s));
            }
        }
    }
}

TEST_F(KRClientMultiMediaJoinIntegrationTest, ALeaveAndAJoinAgainAreSeenOnceByTheOthers) {
    for (Engine engine : {Engine::agora, Engine::krMedia}) {
        SCOPED_TRACE(name(engine));
        Member& host = joined(engine, "Hostess", Role::host);
        Member& ann = joined(engine, "Ann");
        Member& ben = joined(engine, "Ben");
        ASSERT_TRUE(seesEachOther(host, ann));
        ASSERT_TRUE(seesEachOther(host, ben));
        ASSERT_TRUE(seesEachOther(ann, ben));

        const std::string first = ben.uid();
        ASSERT_TRUE(leave(ben));
        for (Member* other : {&host, &ann}) {
            EXPECT_TRUE(
                main->runUntil([&] { return other->recorder->has("remote left " + first); }, 10s));
        }
        EXPECT_TRUE(
            main->runUntil([&] { return bus->members(channelOf(engine)).size() == 2; }, 5s));
        const std::size_t hostMark = host.recorder->lines.size();
        const std::size_t annMark = ann.recorder->lines.size();
        ben.recorder->lines.clear();
        joinAgain(ben, engine, "Ben", Role::guest);
        ASSERT_TRUE(ended(ben));
        ASSERT_TRUE(ben.recorder->has("joined")) << ::testing::PrintToString(ben.recorder->lines);
        const std::string second = ben.uid();
        // Heard again after the leave (the uid may be the same: a host engine keeps its own).
        for (Member* other : {&host, &ann}) {
            const std::size_t mark = other == &host ? hostMark : annMark;
            EXPECT_TRUE(main->runUntil(
                [&] { return rec(*other).count("remote joined " + second, mark) > 0; }, 10s));
        }
        main->runFor(500ms);  // late reports of any channel would show up here

        for (Member* other : {&host, &ann}) {
            const JoinRecorder& r = rec(*other);
            EXPECT_EQ(r.count("remote left " + first), 1u) << ::testing::PrintToString(r.lines);
            const std::size_t mark = other == &host ? hostMark : annMark;
            EXPECT_EQ(r.count("remote joined " + second, mark), 1u)
                << ::testing::PrintToString(r.lines);
            EXPECT_EQ(r.count("remote left " + second, mark), 0u);
            EXPECT_EQ(other->client->getMeetingUsers().size(), 3u);
            EXPECT_TRUE(other->client->getUser(second));
        }
        EXPECT_EQ(ben.client->getMeetingUsers().size(), 3u);
        EXPECT_EQ(rec(ben).count("remote left " + host.uid()), 0u);
        EXPECT_EQ(bus->members(channelOf(engine)).size(), 3u);

        for (Member* m : {&host, &ann, &ben})
            ASSERT_TRUE(leave(*m));
        members.clear();
    }
}

TEST_F(KRClientMultiMediaJoinIntegrationTest, ALockedMeetingRefusesTheNextJoinerUntilUnlocked) {
    Member& host = joined(Engine::agora, "Hostess", Role::host);
    Member& ann = joined(Engine::agora, "Ann");
    Member& ben = joined(Engine::agora, "Ben");
    ASSERT_TRUE(seesEachOther(host, ann));
    ASSERT_TRUE(seesEachOther(host, ben));

    // Only a host may lock; a refused lock tells nobody.
    EXPECT_FALSE(await([&](auto done) { ann.client->lockMeeting(done); }));
    EXPECT_TRUE(await([&](auto done) { host.client->lockMeeting(done); }));
    EXPECT_TRUE(service.room("1234567890")->isLocked);
    for (Member* m : {&host, &ann, &ben}) {
        EXPECT_TRUE(main->runUntil([&] { return m->recorder->has("locked"); }, 10s));
        EXPECT_TRUE(m->client->getCurrentMeetingData().isMeetingLocked());
    }

    Member& cat = begin(Engine::agora, "Cat", Role::guest);
    ASSERT_TRUE(ended(cat));
    ASSERT_EQ(rec(cat).failures.size(), 1u);
    EXPECT_EQ(rec(cat).failures[0].kind, JoinKind::meetingLocked);
    EXPECT_EQ(cat.recorder->lines.size(), 1u);
    EXPECT_FALSE(internals(cat.client).isJoining());
    EXPECT_EQ(bus->members("room-1").size(), 3u);

    EXPECT_TRUE(await([&](auto done) { host.client->unLockMeeting(done); }));
    for (Member* m : {&host, &ann, &ben}) {
        EXPECT_TRUE(main->runUntil([&] { return m->recorder->has("unlocked"); }, 10s));
    }
    cat.recorder->lines.clear();
    joinAgain(cat, Engine::agora, "Cat", Role::guest);
    ASSERT_TRUE(ended(cat));
    EXPECT_TRUE(cat.recorder->has("joined"));
    EXPECT_TRUE(seesEachOther(host, cat));
    EXPECT_TRUE(seesEachOther(ann, cat));
}

TEST_F(KRClientMultiMediaJoinIntegrationTest,
       ALockBetweenTheRoomDetailsAndTheStatusPostIsNamedAtTheJoin) {
    Member& host = joined(Engine::agora, "Hostess", Role::host);
    // The joiner passed the room details; the lock lands while its login is on its way.
    service.injectFault(R::guestLogin, MeetingServiceFault::delayed(400ms).times(1));
    const auto details = service.requestCount(R::roomDetails);
    Member& cat = begin(Engine::agora, "Cat", Role::guest);
    ASSERT_TRUE(
        main->runUntil([&] { return service.requestCount(R::roomDetails) > details; }, 10s));
    EXPECT_TRUE(await([&](auto done) { host.client->lockMeeting(done); }));
    ASSERT_TRUE(ended(cat));
    ASSERT_EQ(rec(cat).failures.size(), 1u);
    EXPECT_EQ(rec(cat).failures[0].kind, JoinKind::meetingLocked) << rec(cat).failures[0].message;
    EXPECT_TRUE(main->runUntil([&] { return bus->members("room-1").size() == 1; }, 5s));
    EXPECT_FALSE(cat.recorder->startsWith("left"));
}

TEST_F(KRClientMultiMediaJoinIntegrationTest, ARecordingCannotBeStartedOnThisBackend) {
    Member& host = joined(Engine::agora, "Hostess", Role::host);
    Member& ann = joined(Engine::agora, "Ann");
    ASSERT_TRUE(seesEachOther(host, ann));
    EXPECT_FALSE(await([&](auto done) { host.client->startRecording(done); }));
    EXPECT_TRUE(host.recorder->has(
        "error " + std::to_string(static_cast<int>(KRMeetingError::Kind::recordingStartFailed))));
    main->runFor(300ms);
    EXPECT_FALSE(host.recorder->has("recording started"));
    EXPECT_FALSE(ann.recorder->has("recording started"));
    EXPECT_FALSE(internals(host.client).currentRoom().isRecordingOn);
    EXPECT_FALSE(service.room("1234567890")->isRecording);
}

/// The same service with the library's timers on a manual clock, to drive the status poll.
class KRClientMultiMediaPollIntegrationTest : public KRClientMultiMediaJoinIntegrationTest {
protected:
    KRClientMultiMediaPollIntegrationTest() : KRClientMultiMediaJoinIntegrationTest(clock) {}
    static inline std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();

    void poll(const Member& m) {
        clock->advance(std::chrono::duration_cast<platform::Clock::duration>(
            std::chrono::duration<double>(internals(m.client).settings().pollingAPITimeInterval)));
        main->runPending();
    }
};

TEST_F(KRClientMultiMediaPollIntegrationTest, ARecordingStartedElsewhereIsHeardFromTheStatusPoll) {
    // No room socket: the room's state reaches this backend through its status poll only.
    service.roomSocket().refuseHandshakes(-1);
    Member& host = joined(Engine::agora, "Hostess", Role::host);
    Member& ann = joined(Engine::agora, "Ann");

    // The room as the service describes it, with a recording someone else started.
    auto status = service.room("1234567890")->statusJson();
    status["isRecording"] = true;
    service.injectFault(R::getRoomConnectionStatus,
                        MeetingServiceFault::withStatus(200, boost::json::serialize(status)));
    for (int i = 0; i < 2; ++i) {
        poll(ann);
        EXPECT_TRUE(main->runUntil(
            [&] {
                return host.recorder->has("recording started") &&
                       ann.recorder->has("recording started");
            },
            10s));
    }
    main->runFor(200ms);
    EXPECT_EQ(rec(ann).count("recording started"), 1u);
    EXPECT_TRUE(ann.client->getCurrentMeetingData().isRecordingOn());

    service.clearFaults();
    poll(ann);
    EXPECT_TRUE(main->runUntil([&] { return ann.recorder->has("recording stopped"); }, 10s));
}

TEST_F(KRClientMultiMediaPollIntegrationTest, ThePollsStayQuietOnceTheLeaveBegan) {
    Member& ann = joined(Engine::agora, "Ann");
    main->runFor(200ms);  // the join's own status calls are answered
    // A slow leave: the polls fall due while it is under way.
    service.injectFault(R::leaveMeeting, MeetingServiceFault::delayed(300ms));
    const auto posts = service.requestCount(R::postRoomConnectionStatus);
    const auto fetches = service.requestCount(R::getRoomConnectionStatus);
    ann.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    poll(ann);
    ASSERT_TRUE(main->runUntil([&] { return ann.recorder->startsWith("left"); }, 10s));
    // The poll's wait outlasted the leave's wait for the server: the media left before the slow
    // answer, and the disconnected post follows it.
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
    main->runFor(200ms);
    // Only the leave's own disconnected post: a connected one could reach the service after it.
    EXPECT_EQ(service.requestCount(R::postRoomConnectionStatus), posts + 1);
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), fetches);
}

TEST_F(KRClientMultiMediaPollIntegrationTest,
       ACallThatIsNeverAnsweredEndsTheJoinOnceAndLeavesNothing) {
    for (Engine engine : {Engine::agora, Engine::krMedia}) {
        for (R route : callsOf(Role::guest)) {
            SCOPED_TRACE(std::string(routeName(route)) + " " + name(engine));
            service.clearFaults();
            service.injectFault(route, MeetingServiceFault::delayed(700ms));
            const auto before = service.requestCount(route);
            Member& m = begin(engine, "Slow", Role::guest);
            for (int i = 0; i < 200 && service.requestCount(route) == before; ++i) {
                main->runFor(10ms);
            }
            ASSERT_GT(service.requestCount(route), before);
            clock->advance(ClientCore::kJoinTimeout);
            main->runPending();
            ASSERT_EQ(rec(m).failures.size(), 1u);
            EXPECT_EQ(rec(m).failures[0], KRMeetingJoinError::other("timed out"));
            main->runFor(1s);  // the late answer arrives and changes nothing
            EXPECT_EQ(m.recorder->lines.size(), 1u) << ::testing::PrintToString(m.recorder->lines);
            EXPECT_FALSE(internals(m.client).isJoining());
            EXPECT_FALSE(internals(m.client).hasPollingTimers());
            EXPECT_FALSE(internals(m.client).hasConnectionCheckTimer());
            EXPECT_TRUE(
                main->runUntil([&] { return bus->members(channelOf(engine)).empty(); }, 5s));
            members.clear();
        }
    }
}

}  // namespace
}  // namespace kr
