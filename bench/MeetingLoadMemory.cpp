// Memory of many clients in one meeting under steady use: N clients (argument 0, default 50)
// join one room of the local meeting service on the default backend, all in this process, and for
// S seconds (argument 1) each of them, every second, does the next of: raise the hand, mute the
// microphone, send a chat message, lower the hand, unmute. Once every client is in, the heap in
// use is sampled every second; "heap_growth_kBps" is the least-squares slope of those samples
// after a warm-up of a fifth of the run, "heap_start_MB" and "heap_end_MB" the first and last
// sample after it; "tls_handshakes" counts the connections the clients opened to the service
// during the load. A flat slope means nothing grows with the meeting's age: what stays is
// meeting state (participants, the chat the meeting has had) and the bounded stores listed under
// "Bounds" in docs/architecture.md.
//
// The heap includes the local meeting service's own (it runs in this process); a heap profile
// (heaptrack, valgrind massif) tells the two apart:
//   heaptrack build/default/bench/kr_bench_MeetingLoadMemory --benchmark_filter=/50/60

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "LocalServiceClients.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kr::bench::heapInUseMB;

constexpr auto kActionInterval = 1s;
constexpr auto kSampleInterval = 1s;
constexpr auto kStep = 10ms;  // the queue runs this long between looks at who is due

using Watch = kr::bench::MeetingWatch;

struct LoadClient {
    std::shared_ptr<kr::KRClient> client;
    std::shared_ptr<Watch> watch;
    int next = 0;
};

class LoadWorld {
public:
    explicit LoadWorld(int clientCount) {
        room.maxParticipants = clientCount + 1;
        service.addRoom(room);
    }
    ~LoadWorld() {
        kr::bench::leaveAll(*main, clients);
        clients.clear();
    }

    bool joinAll(int count) {
        for (int i = 0; i < count; ++i) {
            auto watch = std::make_shared<Watch>();
            auto client = kr::bench::startJoining(service, worlds, storage.path(), room, i,
                                                  "Load " + std::to_string(i), watch);
            clients.push_back(LoadClient{std::move(client), std::move(watch), i % 5});
        }
        return main->runUntil(
            [&] {
                for (const auto& c : clients) {
                    if (!c.watch->joined && !c.watch->failed)
                        return false;
                }
                return true;
            },
            60s) &&
               std::none_of(clients.begin(), clients.end(),
                            [](const LoadClient& c) { return c.watch->failed; });
    }

    /// Each client's next action, in turn.
    void act(LoadClient& c, int sequence) {
        switch (c.next++ % 5) {
        case 0:
            c.client->raiseHand();
            break;
        case 1:
            c.client->muteLocalAudio(true);
            break;
        case 2:
            c.client->sendChatTextMessage("message " + std::to_string(sequence), [](auto) {});
            break;
        case 3:
            c.client->lowerHand();
            break;
        default:
            c.client->muteLocalAudio(false);
            break;
        }
    }

    kr::test::LocalMeetingService service{false};
    kr::test::MeetingRoomSetup room;
    kr::bench::SharedWorlds worlds;
    const std::shared_ptr<kr::platform::MainQueue>& main = worlds.main;
    kr::test::ScopedTempDirectory storage{"kr-bench-load-"};
    std::vector<LoadClient> clients;
};

/// Least-squares slope of `y` over `x`.
double slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

void BM_MeetingLoadMemory(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const auto run = std::chrono::seconds(state.range(1));
    for (auto _ : state) {
        LoadWorld world(count);
        if (!world.joinAll(count)) {
            state.SkipWithError("not every client could join");
            return;
        }
        // Actions spread over the interval, so the clients do not all act at once.
        const auto start = Clock::now();
        const std::uint64_t handshakesBefore = world.service.tlsHandshakeCount();
        std::vector<Clock::time_point> due;
        for (int i = 0; i < count; ++i)
            due.push_back(start + kActionInterval * i / count);
        const auto warmUp = run / 5;
        auto nextSample = start + kSampleInterval;
        int sequence = 0;
        std::vector<double> at, heap;
        for (auto now = start; now - start < run; now = Clock::now()) {
            for (int i = 0; i < count; ++i) {
                if (now < due[static_cast<std::size_t>(i)])
                    continue;
                world.act(world.clients[static_cast<std::size_t>(i)], ++sequence);
                due[static_cast<std::size_t>(i)] += kActionInterval;
            }
            if (now >= nextSample) {
                nextSample += kSampleInterval;
                if (now - start >= warmUp) {
                    at.push_back(std::chrono::duration<double>(now - start).count());
                    heap.push_back(heapInUseMB());
                }
            }
            world.main->runFor(kStep);
        }
        state.counters["actions"] = sequence;
        // New TLS connections to the service during the load: a client that keeps its
        // connections open makes none once it is in.
        state.counters["tls_handshakes"] =
            static_cast<double>(world.service.tlsHandshakeCount() - handshakesBefore);
        state.counters["heap_start_MB"] = heap.empty() ? 0 : heap.front();
        state.counters["heap_end_MB"] = heap.empty() ? 0 : heap.back();
        state.counters["heap_growth_kBps"] = slope(at, heap) * 1024.0;
    }
}

BENCHMARK(BM_MeetingLoadMemory)
    ->Args({50, 60})
    ->Args({50, 20})
    ->Args({50, 40})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
