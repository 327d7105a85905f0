// 2,000 small GETs through KRNetworkClient against the local HTTPS server, versus the same GETs
// through one bare libcurl easy handle that keeps its connection. The client run also reports
// its time as a ratio of the bare run ("vs_bare"): one after another (each GET waits for the
// previous reply, the latency-bound case) and all at once.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>

#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/ScopedMainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace {

constexpr int kGets = 2000;
double gBareSeconds = 0;

struct ConfigRequest : kr::KRAPIRequest<kr::KRAPISuccess> {
    ConfigRequest() : KRAPIRequest(kr::KRAPIPath::getConfiguration(), kr::KRHTTPMethod::get) {}
};

kr::test::LocalHttpsServer& server() {
    static auto* s = [] {
        auto* created = new kr::test::LocalHttpsServer();
        created->route("GET", "/api/config",
                       kr::test::ServerReply::json(200, R"({"success":true})"));
        created->installTransportOverrides();
        return created;
    }();
    return *s;
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

/// Reports a client run's time as a ratio of the bare run, once the bare run has been measured.
void reportVersusBare(benchmark::State& state, double seconds) {
    if (gBareSeconds > 0) {
        state.counters["vs_bare"] = seconds / gBareSeconds;
    }
}

/// A network client for a signed-in user; needs the main queue of the calling benchmark.
std::shared_ptr<kr::KRNetworkClient> loggedInClient() {
    auto client = kr::KRNetworkClient::create(nullptr);
    client->setCurrentUserType(kr::KRCurrentUserType::loggedIn);
    return client;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

void BareCurlEasy(benchmark::State& state) {
    auto& local = server();
    const std::string connectTo = "::127.0.0.1:" + std::to_string(local.port());
    curl_slist* connect = curl_slist_append(nullptr, connectTo.c_str());
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, "https://meet.kivrane.com/api/config");
    curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connect);
    curl_easy_setopt(easy, CURLOPT_CAINFO, local.caFile().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate, br");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
    gBareSeconds = secondsPerIteration(state, [&] {
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
    server();
    kr::platform::ScopedMainQueue main;
    const auto client = loggedInClient();
    const ConfigRequest request;
    reportVersusBare(state, secondsPerIteration(state, [&] {
                         for (int i = 0; i < kGets; ++i) {
                             bool done = false;
                             bool ok = false;
                             client->sendAPIRequest<ConfigRequest>(
                                 request, [&](ConfigRequest answered) {
                                     ok = answered.getResult().ok();
                                     done = true;
                                 });
                             main.queue().runUntil([&] { return done; }, std::chrono::seconds(10));
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
    server();
    kr::platform::ScopedMainQueue main;
    const auto client = loggedInClient();
    const ConfigRequest request;
    reportVersusBare(
        state, secondsPerIteration(state, [&] {
            int done = 0;
            int failed = 0;
            for (int i = 0; i < kGets; ++i) {
                client->sendAPIRequest<ConfigRequest>(request, [&](ConfigRequest answered) {
                    failed += answered.getResult().ok() ? 0 : 1;
                    ++done;
                });
            }
            main.queue().runUntil([&] { return done == kGets; }, std::chrono::seconds(60));
            if (failed > 0 || done != kGets) {
                state.SkipWithError("client GET failed");
                return false;
            }
            return true;
        }));
}

}  // namespace

BENCHMARK(BareCurlEasy)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(NetworkClient)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(NetworkClientConcurrent)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
