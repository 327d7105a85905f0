// How long a join takes over a link with round-trip time RTT (argument, in ms). The clients reach
// the local meeting service through a latency proxy that delays each direction by RTT/2 and holds
// a new connection's first bytes one RTT more (the TCP handshake), so connection set-up pays its
// round trips like every request.
//
// The round trips on the join's critical path are counted from what the service saw during the
// join, not assumed (see `RoundTrips`), by kind: "rt_tcp" (TCP connections), "rt_tls_full" and
// "rt_tls_resumed" (TLS 1.3 handshakes, one RTT each: no early data is sent), "rt_requests" (REST
// requests), "rt_ws_upgrade" (room socket upgrades) and "rt_ws_frames" (text frames the join
// waited on); "round_trips" is their sum. Besides, what the service saw in all during the join:
// "connections", "tls_handshakes", "tls_resumed", "tls_hosts" (the server names the handshakes
// were for) and "requests".
//
// floor = round_trips x RTT; "vs_floor" = join time / floor (goal: at most 1.1). A connection
// opened while another exchange is in flight would be counted although it costs no time of its
// own, so the floor can only come out too high, never too low.
// The bare baseline is measured in the same run: "bare_rtt_ms" is one GET made with bare libcurl
// through the same proxy on a connection already open, and "vs_bare" = join time / (round_trips
// x bare_rtt_ms), the join against as many bare exchanges.
//
// Two measures per joiner:
//   JoinServerPart: from joinMeeting to the moment the join waits for the media channel (the
//                   server calls only);
//   Join:           from joinMeeting to didLocalUserJoinedMeeting (the whole join, media and
//                   messaging on the in-process stand-ins). Skipped with an error when the join
//                   never completes.
// Joiners (see ClientCoreJoin.cpp): a guest without host token, a guest with the host token, a
// signed-in user (no login), and a guest without host token on the room engine backend in an
// "agora" room (see RoomEngineBackend.cpp; no join call), measured whole only
// (MultiMediaGuestJoin). Each benchmark runs three times: min, median and max are reported.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "LocalServiceClients.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LatencyProxy.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/KRClientTestSeam.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

enum class Joiner { guest, host, signedIn, multiMediaGuest };

/// How long a join may take before the run counts it as never completing.
constexpr auto kJoinBound = 10s;
/// Bare exchanges timed for the baseline, after one that opens the connection.
constexpr int kBareExchanges = 5;

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

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
    explicit JoinWorld(std::chrono::milliseconds rtt) : roundTrip(rtt), proxy(service.port(), rtt) {
        kr::test::MeetingRoomSetup room;
        room.maxParticipants = 100000;  // every iteration adds a participant
        service.addRoom(room);
        setup = room;
    }

    std::shared_ptr<kr::KRClient> makeClient(Joiner joiner, int index) {
        auto client = kr::KRClient::create(kr::bench::localClientDependencies(
            proxy.routing(service.routing()), worlds, storage.path() / std::to_string(index)));
        if (joiner == Joiner::multiMediaGuest)
            client->setMultiMediaEngineIntegration(true);  // the room's engine is "agora"
        if (joiner == Joiner::signedIn) {
            const std::string user = "user-" + std::to_string(index);
            client->setParameters(
                {{"kr_user_jwt_token", service.issueUserToken(user, "Bench " + user)}});
        }
        return client;
    }

    /// One GET made with bare libcurl through the proxy on a connection already open, in seconds
    /// (the mean of `kBareExchanges`); 0 when one fails.
    double bareRoundTrip() const {
        const kr::platform::HttpRouting routing = proxy.routing(service.routing());
        curl_slist* connect = nullptr;
        for (const auto& entry : routing.connectTo)
            connect = curl_slist_append(connect, entry.c_str());
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, "https://meet.kivrane.com/api/config?os_type=ios");
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connect);
        curl_easy_setopt(easy, CURLOPT_CAINFO, routing.caFile.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
        double seconds = 0;
        if (curl_easy_perform(easy) == CURLE_OK) {
            bool ok = true;
            const auto start = Clock::now();
            for (int i = 0; i < kBareExchanges && ok; ++i)
                ok = curl_easy_perform(easy) == CURLE_OK;
            if (ok)
                seconds = std::chrono::duration<double>(Clock::now() - start).count() /
                          kBareExchanges;
        }
        curl_easy_cleanup(easy);
        curl_slist_free_all(connect);
        return seconds;
    }

    kr::KRUserRole roleFor(Joiner joiner) const {
        return joiner == Joiner::host ? kr::KRUserRole::host(setup.hostToken)
                                      : kr::KRUserRole::speaker();
    }

    /// Leaves (or abandons the join) and lets the leave finish before the client goes.
    void leave(const std::shared_ptr<kr::KRClient>& client, const JoinWatch& watch) {
        client->leaveMeeting(kr::KRUserLeftReason::leaveMeeting());
        main->runUntil([&] { return watch.left || !internals(client).isJoining(); }, 5s);
        main->runFor(4 * roundTrip + 50ms);  // the server calls of the leave
    }

    const std::chrono::milliseconds roundTrip;
    kr::test::LocalMeetingService service{false};
    kr::test::LatencyProxy proxy;
    kr::test::MeetingRoomSetup setup;
    kr::bench::SharedWorlds worlds;
    const std::shared_ptr<kr::platform::MainQueue>& main = worlds.main;
    kr::test::ScopedTempDirectory storage{"kr-bench-join-"};
};

/// The round trips on a join's critical path, from what the service saw between `start` and
/// `end`.
///
/// Every client flight the service saw (a connection accepted, a request, a text frame on the
/// room socket) got there by a chain of flights, each sent when the reply to the one before
/// reached the client. A flight's predecessor is the latest request or frame that arrived at
/// least RTT/2 before it (a flight sent together with another arrives at once; one that waited
/// for its reply comes a whole RTT later). Costs, in RTT: a request or frame after its
/// predecessor 1; a new connection's first request after the connect 2.5 (TCP handshake, TLS
/// handshake, the way there; a resumed TLS 1.3 handshake costs as much without early data); a
/// connect half an RTT after the flight whose reply led to it. The path ends with the deepest
/// flight whose reply could have reached the client before the join ended, plus its way back.
struct RoundTrips {
    // Along the critical path.
    int tcp = 0;
    int tlsFull = 0;
    int tlsResumed = 0;
    int requests = 0;
    int wsUpgrades = 0;
    int frames = 0;
    // Everything the service saw during the join.
    double connections = 0;
    double handshakes = 0;
    double resumed = 0;
    double hosts = 0;  // server names the handshakes were for
    double allRequests = 0;

    int total() const { return tcp + tlsFull + tlsResumed + requests + wsUpgrades + frames; }

    static RoundTrips between(Clock::time_point start, Clock::time_point end,
                              const kr::test::LocalMeetingService& service,
                              Clock::duration rtt) {  // finer than ms: it is halved
        enum class Kind { connect, request, upgrade, frame };
        struct Flight {
            Clock::time_point at;
            Kind kind;
            std::uint64_t connection;
            bool firstOnNewConnection = false;
            int depth = 0;  // in half round trips from the join's start to its arrival
            const Flight* previous = nullptr;
        };
        std::vector<Flight> flights;
        RoundTrips trips;
        std::map<std::uint64_t, bool> newConnections;  // id -> resumed
        std::set<std::string> hostNames;
        const auto connections = service.connections();
        for (const auto& c : connections) {
            if (c.acceptedAt < start || c.acceptedAt > end)
                continue;
            newConnections[c.id] = c.resumed;
            flights.push_back({c.acceptedAt, Kind::connect, c.id});
            ++trips.connections;
            trips.handshakes += c.handshakeDone ? 1 : 0;
            trips.resumed += c.resumed ? 1 : 0;
            if (c.handshakeDone)
                hostNames.insert(c.serverName);
        }
        trips.hosts = static_cast<double>(hostNames.size());
        const auto requests = service.allRequests();
        std::map<std::uint64_t, bool> seen;
        for (const auto& r : requests) {
            if (r.receivedAt < start || r.receivedAt > end)
                continue;
            Flight f{r.receivedAt, r.header("upgrade") ? Kind::upgrade : Kind::request,
                     r.connectionId};
            f.firstOnNewConnection = newConnections.count(r.connectionId) > 0 &&
                                     !std::exchange(seen[r.connectionId], true);
            flights.push_back(f);
            ++trips.allRequests;
        }
        const auto frames = service.roomSocket().receivedFrames();
        for (const auto& frame : frames) {
            // Binary frames acknowledge pushes: nothing waits for them.
            if (frame.receivedAt >= start && !frame.binary)
                flights.push_back({frame.receivedAt, Kind::frame, frame.connectionId});
        }
        std::stable_sort(flights.begin(), flights.end(),
                         [](const Flight& a, const Flight& b) { return a.at < b.at; });

        const auto predecessor = [&](std::size_t i, Clock::duration gap) -> const Flight* {
            for (std::size_t j = i; j-- > 0;) {
                if (flights[j].kind != Kind::connect && flights[j].at <= flights[i].at - gap)
                    return &flights[j];
            }
            return nullptr;
        };
        std::map<std::uint64_t, const Flight*> connects;
        const Flight* last = nullptr;
        for (std::size_t i = 0; i < flights.size(); ++i) {
            Flight& f = flights[i];
            if (f.kind == Kind::connect) {
                f.previous = predecessor(i, rtt / 4);
                f.depth = f.previous ? f.previous->depth + 1 : 0;
                connects[f.connection] = &f;
            } else {
                f.previous = predecessor(i, rtt / 2);
                f.depth = f.previous ? f.previous->depth + 2 : 1;
                if (f.firstOnNewConnection) {
                    const Flight* connect = connects[f.connection];
                    if (connect && connect->depth + 5 >= f.depth) {
                        f.depth = connect->depth + 5;
                        f.previous = connect;
                    }
                }
            }
            const bool answeredInTime = f.at + rtt / 2 <= end;
            if (f.kind != Kind::connect && answeredInTime && (!last || f.depth >= last->depth))
                last = &f;
        }
        for (const Flight* f = last; f != nullptr; f = f->previous) {
            if (f->kind == Kind::connect) {
                ++trips.tcp;
            } else if (f->firstOnNewConnection && f->previous && f->previous->kind == Kind::connect) {
                ++(newConnections[f->connection] ? trips.tlsResumed : trips.tlsFull);
            }
            trips.requests += f->kind == Kind::request ? 1 : 0;
            trips.wsUpgrades += f->kind == Kind::upgrade ? 1 : 0;
            trips.frames += f->kind == Kind::frame ? 1 : 0;
        }
        return trips;
    }
};

/// The reported counts, per join: the critical path's round trips and their kinds ("rt_..."),
/// then what the service saw in all ("tls_handshakes" and "tls_resumed" among them).
constexpr const char* kCounterNames[] = {
    "round_trips", "rt_tcp",      "rt_tls_full",    "rt_tls_resumed", "rt_requests", "rt_ws_upgrade",
    "rt_ws_frames", "connections", "tls_handshakes", "tls_resumed",    "tls_hosts",
    "requests"};

/// One join per iteration, timed until the join waits for the media channel (`toJoined` false)
/// or until the join is reported (true).
void runJoins(benchmark::State& state, Joiner joiner, bool toJoined) {
    const auto rtt = std::chrono::milliseconds(state.range(0));
    JoinWorld world(rtt);
    const double bareSeconds = world.bareRoundTrip();
    if (bareSeconds <= 0) {
        state.SkipWithError("the bare exchange failed");
        return;
    }
    double seconds = 0;
    double floorSeconds = 0;
    double bareRoundTrips = 0;
    std::array<double, std::size(kCounterNames)> sums{};
    int index = 0;
    for (auto _ : state) {
        auto client = world.makeClient(joiner, index++);
        auto watch = std::make_shared<JoinWatch>();

        const auto start = Clock::now();
        client->joinMeeting(kr::KRJoinMeetingData(world.setup.meetingId, world.setup.pin,
                                                  "Bench " + std::to_string(index)),
                            kr::KRJoinMeetingConfig(world.roleFor(joiner), true, true), watch);
        const bool done = world.main->runUntil(
            [&] {
                return watch->failed || (toJoined ? watch->joined : internals(client).isAwaitingMediaJoin());
            },
            kJoinBound);
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();

        if (watch->failed || !done) {
            world.leave(client, *watch);
            state.SkipWithError((watch->failed
                                     ? "the join failed: " + watch->failure
                                     : std::string(toJoined ? "the join was never reported"
                                                            : "the server part never ended"))
                                    .c_str());
            break;
        }
        state.SetIterationTime(elapsed);
        const RoundTrips trips = RoundTrips::between(start, Clock::now(), world.service, rtt);
        seconds += elapsed;
        floorSeconds += trips.total() * std::chrono::duration<double>(rtt).count();
        bareRoundTrips += trips.total();
        const double path[] = {static_cast<double>(trips.total()),
                               static_cast<double>(trips.tcp),
                               static_cast<double>(trips.tlsFull),
                               static_cast<double>(trips.tlsResumed),
                               static_cast<double>(trips.requests),
                               static_cast<double>(trips.wsUpgrades),
                               static_cast<double>(trips.frames),
                               trips.connections,
                               trips.handshakes,
                               trips.resumed,
                               trips.hosts,
                               trips.allRequests};
        for (std::size_t k = 0; k < sums.size(); ++k)
            sums[k] += path[k];
        world.leave(client, *watch);
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0)
        return;
    for (std::size_t k = 0; k < sums.size(); ++k)
        state.counters[kCounterNames[k]] = sums[k] / n;
    state.counters["floor_ms"] = floorSeconds / n * 1000;
    state.counters["join_ms"] = seconds / n * 1000;
    state.counters["vs_floor"] = floorSeconds > 0 ? seconds / floorSeconds : 0;
    state.counters["bare_rtt_ms"] = bareSeconds * 1000;
    state.counters["vs_bare"] = bareRoundTrips > 0 ? seconds / (bareRoundTrips * bareSeconds) : 0;
}

void BM_GuestJoinServerPart(benchmark::State& state) {
    runJoins(state, Joiner::guest, false);
}
void BM_HostJoinServerPart(benchmark::State& state) {
    runJoins(state, Joiner::host, false);
}
void BM_SignedInJoinServerPart(benchmark::State& state) {
    runJoins(state, Joiner::signedIn, false);
}
void BM_GuestJoin(benchmark::State& state) {
    runJoins(state, Joiner::guest, true);
}
void BM_HostJoin(benchmark::State& state) {
    runJoins(state, Joiner::host, true);
}
void BM_SignedInJoin(benchmark::State& state) {
    runJoins(state, Joiner::signedIn, true);
}
void BM_MultiMediaGuestJoin(benchmark::State& state) {
    runJoins(state, Joiner::multiMediaGuest, true);
}

double minimum(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double maximum(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

#define KR_JOIN_BENCHMARK(name)                 \
    BENCHMARK(name)                             \
        ->Arg(5)                                \
        ->Arg(20)                               \
        ->Arg(50)                               \
        ->UseManualTime()                       \
        ->Unit(benchmark::kMillisecond)         \
        ->Iterations(10)                        \
        ->Repetitions(3)                        \
        ->ComputeStatistics("min", minimum)     \
        ->ComputeStatistics("max", maximum)

KR_JOIN_BENCHMARK(BM_GuestJoinServerPart);
KR_JOIN_BENCHMARK(BM_HostJoinServerPart);
KR_JOIN_BENCHMARK(BM_SignedInJoinServerPart);
KR_JOIN_BENCHMARK(BM_GuestJoin);
KR_JOIN_BENCHMARK(BM_HostJoin);
KR_JOIN_BENCHMARK(BM_SignedInJoin);
KR_JOIN_BENCHMARK(BM_MultiMediaGuestJoin);

}  // namespace
