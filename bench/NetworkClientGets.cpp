// Small GETs through KRNetworkClient against the local HTTPS server, versus the same GETs
// through one bare libcurl easy handle that keeps its connection. Every run is made twice: on
// raw loopback (argument 0) and with the server answering each GET after a fixed 1 ms (argument
// 1), which is closer to a real round trip. The client runs report their time as a ratio of the
// bare run with the same delay ("vs_bare"): one GET after another (each waits for the previous
// reply, the latency-bound case) and all at once.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace {

constexpr int kGets = 1000;
std::map<long, double> gBareSeconds;  // by server delay in ms

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

/// Runs `getAll` once per benchmark iteration and returns its mean wall time in seconds. `getAll`
/// returns false after reporting an error, which ends the run.
template <class GetAll>
double secondsPerIteration(benchmark::State& state, GetAll getAll) {
    std::chrono::duration<double> total{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = getAll();
        total += std::chrono::steady_clock::now() - start;
        if (!ok) {
            break;
        }
    }
    return state.iterations() > 0 ? total.count() / static_cast<double>(state.iterations()) : 0;
}

/// Reports a client run's time as a ratio of the bare run with the same delay.
void reportVersusBare(benchmark::State& state, long delayMs, double seconds) {
    const auto bare = gBareSeconds.find(delayMs);
    if (bare != gBareSeconds.end() && bare->second > 0) {
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

void BareCurlEasy(benchmark::State& state) {
    const long delayMs = state.range(0);
    auto& local = server(delayMs);
    const std::string connectTo = "::127.0.0.1:" + std::to_string(local.port());
    curl_slist* connect = curl_slist_append(nullptr, connectTo.c_str());
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, "https://meet.kivrane.com/api/config");
    curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connect);
    curl_easy_setopt(easy, CURLOPT_CAINFO, local.caFile().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate, br");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
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

void NetworkClient(benchmark::State& state) {
    const long delayMs = state.range(0);
    const auto main = kr::platform::MainQueue::create();
    const auto client = loggedInClient(main, delayMs);
    const ConfigRequest request;
    reportVersusBare(state, delayMs, secondsPerIteration(state, [&] {
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
        state, delayMs, secondsPerIteration(state, [&] {
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

}  // namespace

// Bare runs first, so the client runs can report against them.
BENCHMARK(BareCurlEasy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(NetworkClient)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(NetworkClientConcurrent)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
