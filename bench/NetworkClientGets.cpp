// Small GETs through KRNetworkClient against the local HTTPS server, versus the same GETs made
// with bare libcurl in the same run. Every run is made twice: on raw loopback (argument 0) and
// with the server answering each GET after a fixed 1 ms (argument 1), which is closer to a real
// round trip. The client runs report their time as a ratio of the bare run with the same delay
// ("vs_bare"): one GET after another (each waits for the previous reply, the latency-bound case)
// against one easy handle that keeps its connection, and all at once against one multi handle
// running every GET at the same connection limit as the client. A last run reports the CPU the
// process spends while a client sits idle with its connection open ("cpu_percent").
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <sys/resource.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace {

constexpr int kGets = 1000;
// The client's connection limit per host, which the bare concurrent run keeps to as well.
constexpr long kConnectionsPerHost = 15;
std::map<long, double> gBareSeconds;       // one GET after another, by server delay in ms
std::map<long, double> gBareMultiSeconds;  // all GETs at once, by server delay in ms

struct ConfigRequest : kr::KRAPIRequest<kr::KRAPISuccess> {
    ConfigRequest() : KRAPIRequest(kr::KRAPIPath::getConfiguration(), kr::KRHTTPMethod::get) {}
};

/// The server answering with `delayMs` of delay (one per delay, made on first use).
kr::test::LocalHttpsServer& server(long delayMs) {
    static std::map<long, kr::test::LocalHttpsServer*> servers;
    auto& slot = servers[delayMs];
    if (slot == nullptr) {
        slot = new kr::test::LocalHttpsServer();
        auto reply = kr::test::ServerReply::json(200, R"({"success":true})");
        reply.delay = std::chrono::milliseconds(delayMs);
        slot->route("GET", "/api/config", reply);
    }
    return *slot;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// Runs `getAll` once per benchmark iteration and returns its mean wall time in seconds; also
/// reports the CPU the whole process (every thread, the server's too) spent per GET. `getAll`
/// returns false after reporting an error, which ends the run.
template <class GetAll>
double secondsPerIteration(benchmark::State& state, GetAll getAll) {
    std::chrono::duration<double> total{};
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = getAll();
        total += std::chrono::steady_clock::now() - start;
        cpu += cpuSeconds() - cpuBefore;
        if (!ok) {
            break;
        }
    }
    if (state.iterations() > 0) {
        state.counters["process_cpu_us_per_get"] =
            1e6 * cpu / static_cast<double>(state.iterations() * kGets);
    }
    return state.iterations() > 0 ? total.count() / static_cast<double>(state.iterations()) : 0;
}

/// Reports a client run's time as a ratio of the bare run (in `bareRuns`) with the same delay.
void reportVersusBare(benchmark::State& state, const std::map<long, double>& bareRuns, long delayMs,
                      double seconds) {
    const auto bare = bareRuns.find(delayMs);
    if (bare != bareRuns.end() && bare->second > 0) {
        state.counters["vs_bare"] = seconds / bare->second;
    }
}

/// A network client for a signed-in user on `queue`, routed to the server with `delayMs`.
std::shared_ptr<kr::KRNetworkClient> loggedInClient(std::shared_ptr<kr::platform::MainQueue> queue,
                                                    long delayMs) {
    kr::KRDependencies dependencies;
    dependencies.queue = std::move(queue);
    dependencies.routing = server(delayMs).routing();
    dependencies.reachability = kr::NetworkReachabilityHandler::create({});
    auto client = kr::KRNetworkClient::create(std::move(dependencies));
    client->setCurrentUserType(kr::KRCurrentUserType::loggedIn);
    return client;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

/// A bare easy handle for the config GET on the server with `delayMs`.
CURL* bareHandle(long delayMs, curl_slist* connect) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, "https://meet.kivrane.com/api/config");
    curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connect);
    curl_easy_setopt(easy, CURLOPT_CAINFO, server(delayMs).caFile().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate, br");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
    return easy;
}

curl_slist* connectToServer(long delayMs) {
    const std::string connectTo = "::127.0.0.1:" + std::to_string(server(delayMs).port());
    return curl_slist_append(nullptr, connectTo.c_str());
}

void BareCurlEasy(benchmark::State& state) {
    const long delayMs = state.range(0);
    curl_slist* connect = connectToServer(delayMs);
    CURL* easy = bareHandle(delayMs, connect);
    gBareSeconds[delayMs] = secondsPerIteration(state, [&] {
        for (int i = 0; i < kGets; ++i) {
            if (curl_easy_perform(easy) != CURLE_OK) {
                state.SkipWithError("bare GET failed");
                return false;
            }
        }
        return true;
    });
    curl_easy_cleanup(easy);
    curl_slist_free_all(connect);
}

// The GETs on one multi handle run on this thread, as many at a time as the client has
// connections: each one that ends makes room for the next.
void BareCurlMulti(benchmark::State& state) {
    const long delayMs = state.range(0);
    curl_slist* connect = connectToServer(delayMs);
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kConnectionsPerHost);
    std::vector<CURL*> handles;
    for (long i = 0; i < kConnectionsPerHost; ++i) {
        handles.push_back(bareHandle(delayMs, connect));
    }
    gBareMultiSeconds[delayMs] = secondsPerIteration(state, [&] {
        int started = 0;
        for (CURL* easy : handles) {
            curl_multi_add_handle(multi, easy);
            ++started;
        }
        int done = 0;
        bool ok = true;
        while (done < kGets) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    ok = ok && message->data.result == CURLE_OK;
                    CURL* easy = message->easy_handle;
                    curl_multi_remove_handle(multi, easy);
                    ++done;
                    if (started < kGets) {
                        curl_multi_add_handle(multi, easy);
                        ++started;
                    }
                }
            }
            if (done < kGets) {
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
            }
        }
        if (!ok) {
            state.SkipWithError("bare GET failed");
        }
        return ok;
    });
    for (CURL* easy : handles) {
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(multi);
    curl_slist_free_all(connect);
}

void NetworkClient(benchmark::State& state) {
    const long delayMs = state.range(0);
    const auto main = kr::platform::MainQueue::create();
    const auto client = loggedInClient(main, delayMs);
    const ConfigRequest request;
    reportVersusBare(state, gBareSeconds, delayMs, secondsPerIteration(state, [&] {
                         for (int i = 0; i < kGets; ++i) {
                             bool done = false;
                             bool ok = false;
                             client->sendAPIRequest<ConfigRequest>(
                                 request, [&](ConfigRequest answered) {
                                     ok = answered.getResult().ok();
                                     done = true;
                                 });
                             main->runUntil([&] { return done; }, std::chrono::seconds(10));
                             if (!ok) {
                                 state.SkipWithError("client GET failed");
                                 return false;
                             }
                         }
                         return true;
                     }));
}

// The same GETs all handed to the client at once, as an application's independent calls are:
// the client spreads them over its persistent connections.
void NetworkClientConcurrent(benchmark::State& state) {
    const long delayMs = state.range(0);
    const auto main = kr::platform::MainQueue::create();
    const auto client = loggedInClient(main, delayMs);
    const ConfigRequest request;
    reportVersusBare(
        state, gBareMultiSeconds, delayMs, secondsPerIteration(state, [&] {
            int done = 0;
            int failed = 0;
            for (int i = 0; i < kGets; ++i) {
                client->sendAPIRequest<ConfigRequest>(request, [&](ConfigRequest answered) {
                    failed += answered.getResult().ok() ? 0 : 1;
                    ++done;
                });
            }
            main->runUntil([&] { return done == kGets; }, std::chrono::seconds(60));
            if (failed > 0 || done != kGets) {
                state.SkipWithError("client GET failed");
                return false;
            }
            return true;
        }));
}

// A client that has made a GET and then sits idle, as one does through most of a meeting: the
// process (client and server threads together) should use next to no CPU.
void NetworkClientIdle(benchmark::State& state) {
    const auto main = kr::platform::MainQueue::create();
    const auto client = loggedInClient(main, 0);
    const ConfigRequest request;
    for (auto _ : state) {
        bool done = false;
        client->sendAPIRequest<ConfigRequest>(request, [&](ConfigRequest) { done = true; });
        main->runUntil([&] { return done; }, std::chrono::seconds(10));
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        main->runFor(std::chrono::seconds(2));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        state.counters["cpu_percent"] = 100.0 * (cpuSeconds() - cpuBefore) / wall.count();
    }
}

}  // namespace

// Bare runs first, so the client runs can report against them.
BENCHMARK(BareCurlEasy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BareCurlMulti)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(NetworkClient)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(NetworkClientConcurrent)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(NetworkClientIdle)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
