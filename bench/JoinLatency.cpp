// How long a join takes when every reply of the meeting service comes after a fixed delay d
// (argument, in ms): the join's server calls depend on each other, so the floor is their number
// times d. Reported per join: "vs_floor" = join time / (round trips x d) (goal: at most 1.1),
// "tls_handshakes" and "tls_hosts" (handshakes the service saw during the join and how many
// server names they were for; goal: one handshake per host), "tls_resumed" (of the handshakes,
// those that resumed an earlier session). The room socket, where the join opens one, needs a
// connection of its own and so a handshake of its own.
//
// Two measures per road:
//   JoinServerRoad: from joinMeeting to the moment the join waits for the media channel (the
//                   server calls only);
//   Join:           from joinMeeting to didLocalUserJoinedMeeting (the whole join, media and
//                   messaging on the in-process stand-ins). Skipped with an error when the join
//                   never completes.
// Roads (see KRClientJoin.cpp): a guest without host token (configuration, room details, guest
// login, join call, status post, status get: 6 round trips), a guest with the host token (the
// login comes before the room details: 6), a signed-in user (no login: 5), and a guest without
// host token on the multimedia-engine road in an "agora" room (see KRClientMultiMedia.cpp and
// KRClientMultiMediaEvents.cpp: configuration, room details, guest login, then, once the engine
// reports the local participant in the channel, status post and status get: 5; this road has no
// join call). The multimedia road is measured whole only (MultiMediaGuestJoin).
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "LocalServiceClients.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Route = kr::test::MeetingServiceRoute;

enum class Road { guest, host, signedIn, multiMediaGuest };

int roundTrips(Road road) {
    return road == Road::signedIn || road == Road::multiMediaGuest ? 5 : 6;
}

/// How long a join may take before the run counts it as never completing.
constexpr auto kJoinBound = 10s;

/// Notes the two reports that end a join.
class JoinWatch : public kr::KRClientDelegate {
public:
    bool joined = false;
    bool failed = false;
    bool left = false;
    std::string failure;
    void didLocalUserJoinedMeeting(const kr::KRMeeting&,
                                   const std::shared_ptr<kr::KRMeetingUser>&) override {
        joined = true;
    }
    void didLocalUserFailedToJoinMeeting(const kr::KRMeetingJoinError& error) override {
        failed = true;
        failure = error.message.empty() ? "kind " + std::to_string(static_cast<int>(error.kind))
                                        : error.message;
    }
    void didLocalUserLeftMeeting(const kr::KRMeeting&, const kr::KRUserLeftReason&) override {
        left = true;
    }
};

/// The meeting service with its delay on every route, a queue, the stand-in worlds and a
/// storage directory: one per benchmark run.
class JoinWorld {
public:
    explicit JoinWorld(std::chrono::milliseconds delay) {
        kr::test::MeetingRoomSetup room;
        room.maxParticipants = 100000;  // every iteration adds a participant
        service.addRoom(room);
        setup = room;
        for (int r = 0; r <= static_cast<int>(Route::chatMembers); ++r) {
            service.injectFault(static_cast<Route>(r),
                                kr::test::MeetingServiceFault::delayed(delay));
        }
    }

    std::shared_ptr<kr::KRClient> makeClient(Road road, int index) {
        auto client = kr::KRClient::create(kr::bench::localClientDependencies(
            service, worlds, storage.path() / std::to_string(index)));
        if (road == Road::multiMediaGuest)
            client->setMultiMediaEngineIntegration(true);  // the room's engine is "agora"
        if (road == Road::signedIn) {
            const std::string user = "user-" + std::to_string(index);
            client->setParameters(
                {{"kr_user_jwt_token", service.issueUserToken(user, "Bench " + user)}});
        }
        return client;
    }

    kr::KRUserRole roleFor(Road road) const {
        return road == Road::host ? kr::KRUserRole::host(setup.hostToken)
                                  : kr::KRUserRole::speaker();
    }

    /// Leaves (or abandons the join) and lets the leave finish before the client goes.
    void leave(const std::shared_ptr<kr::KRClient>& client, const JoinWatch& watch) {
        client->leaveMeeting(kr::KRUserLeftReason::leaveMeeting());
        main->runUntil([&] { return watch.left || !client->isJoining(); }, 5s);
        main->runFor(50ms);  // the server calls of the leave
    }

    /// Handshakes since `before` that resumed an earlier TLS session.
    std::uint64_t resumedSince(
        const std::map<std::string, kr::test::LocalHttpsServer::HandshakeCount>& before) const {
        std::uint64_t resumed = 0;
        for (const auto& [name, count] : service.tlsHandshakesByServerName()) {
            const auto it = before.find(name);
            resumed += count.resumed - (it == before.end() ? 0 : it->second.resumed);
        }
        return resumed;
    }

    std::size_t handshakeHosts(
        const std::map<std::string, kr::test::LocalHttpsServer::HandshakeCount>& before) const {
        std::size_t hosts = 0;
        for (const auto& [name, count] : service.tlsHandshakesByServerName()) {
            const auto it = before.find(name);
            if (count.total > (it == before.end() ? 0 : it->second.total))
                ++hosts;
        }
        return hosts;
    }

    kr::test::LocalMeetingService service{false};
    kr::test::MeetingRoomSetup setup;
    kr::bench::SharedWorlds worlds;
    const std::shared_ptr<kr::platform::MainQueue>& main = worlds.main;
    kr::bench::TemporaryDirectory storage{"kr-bench-join-"};
};

/// One join per iteration, timed until the join waits for the media channel (`toJoined` false)
/// or until the join is reported (true).
void runJoins(benchmark::State& state, Road road, bool toJoined) {
    const auto delay = std::chrono::milliseconds(state.range(0));
    JoinWorld world(delay);
    double seconds = 0;
    double handshakes = 0;
    double hosts = 0;
    double resumed = 0;
    double requests = 0;
    int index = 0;
    for (auto _ : state) {
        auto client = world.makeClient(road, index++);
        auto watch = std::make_shared<JoinWatch>();
        const auto handshakesBefore = world.service.tlsHandshakesByServerName();
        const std::uint64_t totalBefore = world.service.tlsHandshakeCount();
        std::size_t requestsBefore = 0;
        for (int r = 0; r <= static_cast<int>(Route::chatMembers); ++r) {
            requestsBefore += world.service.requestCount(static_cast<Route>(r));
        }

        const auto start = Clock::now();
        client->joinMeeting(kr::KRJoinMeetingData(world.setup.meetingId, world.setup.pin,
                                                  "Bench " + std::to_string(index)),
                            kr::KRJoinMeetingConfig(world.roleFor(road), true, true), watch);
        const bool done = world.main->runUntil(
            [&] {
                return watch->failed || (toJoined ? watch->joined : client->isAwaitingMediaJoin());
            },
            kJoinBound);
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();

        if (watch->failed || !done) {
            world.leave(client, *watch);
            state.SkipWithError((watch->failed
                                     ? "the join failed: " + watch->failure
                                     : std::string(toJoined ? "the join was never reported"
                                                            : "the server road never ended"))
                                    .c_str());
            break;
        }
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        handshakes += static_cast<double>(world.service.tlsHandshakeCount() - totalBefore);
        hosts += static_cast<double>(world.handshakeHosts(handshakesBefore));
        resumed += static_cast<double>(world.resumedSince(handshakesBefore));
        std::size_t requestsAfter = 0;
        for (int r = 0; r <= static_cast<int>(Route::chatMembers); ++r) {
            requestsAfter += world.service.requestCount(static_cast<Route>(r));
        }
        requests += static_cast<double>(requestsAfter - requestsBefore);
        world.leave(client, *watch);
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0)
        return;
    const double floor = roundTrips(road) * std::chrono::duration<double>(delay).count();
    state.counters["round_trips"] = roundTrips(road);
    state.counters["floor_ms"] = floor * 1000;
    state.counters["join_ms"] = seconds / n * 1000;
    state.counters["vs_floor"] = floor > 0 ? seconds / n / floor : 0;
    state.counters["tls_handshakes"] = handshakes / n;
    state.counters["tls_hosts"] = hosts / n;
    state.counters["tls_resumed"] = resumed / n;
    state.counters["requests"] = requests / n;
}

void BM_GuestJoinServerRoad(benchmark::State& state) {
    runJoins(state, Road::guest, false);
}
void BM_HostJoinServerRoad(benchmark::State& state) {
    runJoins(state, Road::host, false);
}
void BM_SignedInJoinServerRoad(benchmark::State& state) {
    runJoins(state, Road::signedIn, false);
}
void BM_GuestJoin(benchmark::State& state) {
    runJoins(state, Road::guest, true);
}
void BM_HostJoin(benchmark::State& state) {
    runJoins(state, Road::host, true);
}
void BM_SignedInJoin(benchmark::State& state) {
    runJoins(state, Road::signedIn, true);
}
void BM_MultiMediaGuestJoin(benchmark::State& state) {
    runJoins(state, Road::multiMediaGuest, true);
}

#define KR_JOIN_BENCHMARK(name) \
    BENCHMARK(name)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10)

KR_JOIN_BENCHMARK(BM_GuestJoinServerRoad);
KR_JOIN_BENCHMARK(BM_HostJoinServerRoad);
KR_JOIN_BENCHMARK(BM_SignedInJoinServerRoad);
KR_JOIN_BENCHMARK(BM_GuestJoin);
KR_JOIN_BENCHMARK(BM_HostJoin);
KR_JOIN_BENCHMARK(BM_SignedInJoin);
KR_JOIN_BENCHMARK(BM_MultiMediaGuestJoin);

}  // namespace
