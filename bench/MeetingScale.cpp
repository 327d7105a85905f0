// N clients (argument) in one process join one room of the local meeting service at once, on
// the default backend. Measured from the first joinMeeting call until every client has been told
// of every other one (didRemoteUserJoinedMeeting, counted by user id):
//   seconds            wall time until everyone sees everyone;
//   cpu_s              CPU time of the whole process over that span (the service included: it
//                      runs in this process);
//   peak_heap_MB_per_client  the heap in use at its highest during the span, above the heap
//                      before the first join, divided by N;
//   xSingleJoin        seconds divided by the time one client alone takes to join the same
//                      kind of room in the same run (the quickest of three): the floor, since
//                      no client can see the others before its own join is through;
//   xSingleJoinCpu     cpu_s / N divided by the CPU of that quickest single join;
//   status_gets_per_client  room status requests the service answered, per client.
// A bound (kSeeAllBound) keeps a run that never converges from hanging: it is skipped with an
// error.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "LocalServiceClients.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kr::bench::heapInUseMB;

constexpr auto kSeeAllBound = 60s;
constexpr auto kHeapSampleEvery = 20ms;
constexpr int kSingleJoins = 3;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// Who a client has been told is in the meeting besides itself.
class SeenWatch : public kr::bench::MeetingWatch {
public:
    std::set<std::string> others;
    void didRemoteUserJoinedMeeting(const kr::KRMeeting&,
                                    const std::shared_ptr<kr::KRMeetingUser>& user) override {
        others.insert(user->userId());
    }
    void didRemoteUserLeftMeeting(const kr::KRMeeting&,
                                  const std::shared_ptr<kr::KRMeetingUser>& user,
                                  const kr::KRUserLeftReason&) override {
        others.erase(user->userId());
    }
};

struct ScaleClient {
    std::shared_ptr<kr::KRClient> client;
    std::shared_ptr<SeenWatch> watch;
};

/// The service, one queue, the stand-in worlds and a storage directory; clients join one room.
class ScaleWorld {
public:
    explicit ScaleWorld(int clientCount) {
        room.maxParticipants = clientCount + 1;
        service.addRoom(room);
    }
    ~ScaleWorld() {
        kr::bench::leaveAll(*main, clients);
        clients.clear();
    }

    void startJoin(int index) {
        auto watch = std::make_shared<SeenWatch>();
        auto client = kr::bench::startJoining(service, worlds, storage.path(), room, index,
                                              "Scale " + std::to_string(index), watch);
        clients.push_back(ScaleClient{std::move(client), std::move(watch)});
    }

    bool anyFailed() const {
        return std::any_of(clients.begin(), clients.end(),
                           [](const ScaleClient& c) { return c.watch->failed; });
    }

    kr::test::LocalMeetingService service{false};
    kr::test::MeetingRoomSetup room;
    kr::bench::SharedWorlds worlds;
    const std::shared_ptr<kr::platform::MainQueue>& main = worlds.main;
    kr::test::ScopedTempDirectory storage{"kr-bench-scale-"};
    std::vector<ScaleClient> clients;
};

struct Span {
    double seconds = 0;
    double cpuSeconds = 0;
    double peakHeapMB = 0;  // above the heap at the start
    bool done = false;
};

/// Starts `count` joins and runs the queue until every client has seen all the others.
Span seeEachOther(ScaleWorld& world, int count) {
    Span span;
    const double heapBefore = heapInUseMB();
    const double cpuBefore = processCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        world.startJoin(i);
    const auto expected = static_cast<std::size_t>(count - 1);
    auto nextSample = start;
    span.done = world.main->runUntil(
        [&] {
            if (const auto now = Clock::now(); now >= nextSample) {
                span.peakHeapMB = std::max(span.peakHeapMB, heapInUseMB() - heapBefore);
                nextSample = now + kHeapSampleEvery;
            }
            if (world.anyFailed())
                return true;
            return std::all_of(world.clients.begin(), world.clients.end(), [&](const auto& c) {
                return c.watch->joined && c.watch->others.size() >= expected;
            });
        },
        kSeeAllBound);
    span.done = span.done && !world.anyFailed();
    span.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    span.cpuSeconds = processCpuSeconds() - cpuBefore;
    span.peakHeapMB = std::max(span.peakHeapMB, heapInUseMB() - heapBefore);
    return span;
}

void BM_MeetingScale(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        // The floor: the quickest of a few lone joins (the first in a process pays for
        // one-time set-up that the N clients share).
        Span single;
        for (int run = 0; run < kSingleJoins; ++run) {
            ScaleWorld alone(1);
            const Span one = seeEachOther(alone, 1);
            if (run == 0 || one.seconds < single.seconds)
                single = one;
            if (!one.done)
                single.done = false;
        }
        ScaleWorld world(count);
        const Span all = seeEachOther(world, count);
        if (!single.done || !all.done) {
            state.SkipWithError("not every client joined and saw every other");
            return;
        }
        state.SetIterationTime(all.seconds);
        state.counters["seconds"] = all.seconds;
        state.counters["cpu_s"] = all.cpuSeconds;
        state.counters["peak_heap_MB_per_client"] = all.peakHeapMB / count;
        state.counters["xSingleJoin"] = all.seconds / single.seconds;
        state.counters["xSingleJoinCpu"] = all.cpuSeconds / count / single.cpuSeconds;
        // Each status reply lists the whole room: what one client asks for costs N records.
        state.counters["status_gets_per_client"] =
            static_cast<double>(world.service.requestCount(
                kr::test::MeetingServiceRoute::getRoomConnectionStatus)) /
            count;
    }
}

BENCHMARK(BM_MeetingScale)
    ->Arg(3)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
