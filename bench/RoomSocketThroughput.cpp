// The CPU the room socket client spends per pushed frame. The local meeting service pushes
// 100,000 small room-status frames to two clients logged in at the same time: the library's
// socket manager (its I/O thread plus the queue thread that runs the hooks) and a bare Boost.Beast
// client on a thread of its own that reads each frame, reads its event and writes the
// acknowledgement, with nothing else. Reported per run: "lib_us_per_frame", "bare_us_per_frame"
// (thread CPU over the frames) and "ratio" = lib / bare (goal: at most 1.3). Thread CPU comes
// from the scheduler's per-thread accounting, so the service's own threads do not count.
#include <benchmark/benchmark.h>

// Asio's scheduler trips GCC's flow-based null-dereference check once inlined here.
#pragma GCC diagnostic ignored "-Wnull-dereference"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/json.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace {

using namespace std::chrono_literals;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

constexpr int kFrames = 100000;

std::string frame(int i) {
    return R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"1234567890",)"
           R"("eventType":"refresh","actionType":"leave","sourceId":"u)" +
           std::to_string(i) + R"("}})";
}

std::int64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

/// CPU time of every live thread of this process with the given name.
std::int64_t namedThreadsCpuNs(const std::string& name) {
    std::int64_t total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name) {
            continue;
        }
        std::ifstream schedstat(task.path() / "schedstat");
        std::int64_t onCpu = 0;
        schedstat >> onCpu;
        total += onCpu;
    }
    return total;
}

/// Reads and acknowledges frames with Boost.Beast alone.
class BareClient {
public:
    BareClient(const kr::test::LocalMeetingService& service, std::string token)
        : ssl_(asio::ssl::context::tls_client), ws_(io_, ssl_) {
        ssl_.load_verify_file(service.caFile());
        ssl_.set_verify_mode(asio::ssl::verify_peer);
        asio::ip::tcp::resolver resolver(io_);
        asio::connect(beast::get_lowest_layer(ws_),
                      resolver.resolve("127.0.0.1", std::to_string(service.port())));
        beast::get_lowest_layer(ws_).set_option(asio::ip::tcp::no_delay(true));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // OpenSSL's macro casts the C way
        SSL_set_tlsext_host_name(ws_.next_layer().native_handle(), "meet.kivrane.com");
#pragma GCC diagnostic pop
        ws_.next_layer().set_verify_callback(asio::ssl::host_name_verification("meet.kivrane.com"));
        ws_.next_layer().handshake(asio::ssl::stream_base::client);
        ws_.handshake("meet.kivrane.com", "/ws");
        ws_.binary(true);
        ws_.write(asio::buffer(R"({"event":"login","data":{"token":")" + token + R"("}})"));
        beast::flat_buffer buffer;
        ws_.read(buffer);  // the login answer
    }

    /// Reads until `frames` room frames came; returns the thread CPU spent.
    std::int64_t run(int frames) {
        const std::int64_t start = threadCpuNs();
        beast::flat_buffer buffer;
        int seen = 0;
        while (seen < frames) {
            ws_.read(buffer);
            const auto text = beast::buffers_to_string(buffer.data());
            buffer.consume(buffer.size());
            boost::system::error_code ec;
            const auto parsed = boost::json::parse(text, ec);
            std::string event;
            if (!ec && parsed.is_object()) {
                if (const auto* e = parsed.as_object().if_contains("event"); e && e->is_string()) {
                    event = std::string(e->as_string());
                }
            }
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
            const std::string ack = boost::json::serialize(boost::json::object{
                {"event", "ack"},
                {"data", {{"originalEvent", event}, {"timestamp", std::to_string(seconds)}}}});
            ws_.write(asio::buffer(ack));
            seen += event == "roomconnectionstatusupdate" ? 1 : 0;
        }
        const std::int64_t spent = threadCpuNs() - start;
        beast::error_code ignored;
        ws_.close(websocket::close_code::normal, ignored);
        return spent;
    }

private:
    asio::io_context io_;
    asio::ssl::context ssl_;
    websocket::stream<beast::ssl_stream<asio::ip::tcp::socket>> ws_;
};

void BM_RoomSocketFramesCpu(benchmark::State& state) {
    for (auto _ : state) {
        kr::test::LocalMeetingService service;
        auto queue = kr::platform::MainQueue::create();
        kr::KRDependencies dependencies;
        dependencies.queue = queue;
        dependencies.routing = service.routing();
        auto manager = kr::KRWebSocketManager::create(
            kr::KRApiServer::production, service.issueUserToken("user-1", "Al"), dependencies);
        int handled = 0;
        manager->onUserLeftMeeting = [&](const std::string&) { ++handled; };
        manager->setIsConnectedToNetwork(true);
        manager->setIsUserJoinedMeeting(true);
        manager->configureSocket();
        auto& hub = service.roomSocket();
        if (!queue->runUntil([&] { return manager->isSocketConnected(); }, 10s) ||
            !hub.waitUntil([&] { return hub.loginCount() == 1; }, 10s)) {
            state.SkipWithError("library client did not log in");
            return;
        }
        BareClient bare(service, service.issueUserToken("user-2", "Bo"));
        queue->runFor(50ms);  // the library's login answer

        std::int64_t bareNs = 0;
        std::thread bareThread([&] {
            pthread_setname_np(pthread_self(), "bare-client");
            bareNs = bare.run(kFrames);
        });
        const std::int64_t ioBefore = namedThreadsCpuNs("kr.websocket");
        const std::int64_t mainBefore = threadCpuNs();
        std::thread pusher([&] {
            for (int i = 0; i < kFrames; ++i) {
                hub.pushToRoom("1234567890", frame(i));
            }
        });
        const bool done = queue->runUntil([&] { return handled == kFrames; }, 300s);
        const std::int64_t mainNs = threadCpuNs() - mainBefore;
        const std::int64_t ioNs = namedThreadsCpuNs("kr.websocket") - ioBefore;
        pusher.join();
        bareThread.join();
        if (!done) {
            state.SkipWithError("library client did not handle every frame");
            return;
        }
        const double lib = static_cast<double>(mainNs + ioNs) / 1000.0 / kFrames;
        const double bareUs = static_cast<double>(bareNs) / 1000.0 / kFrames;
        state.counters["lib_us_per_frame"] = lib;
        state.counters["lib_io_us_per_frame"] = static_cast<double>(ioNs) / 1000.0 / kFrames;
        state.counters["lib_queue_us_per_frame"] = static_cast<double>(mainNs) / 1000.0 / kFrames;
        state.counters["bare_us_per_frame"] = bareUs;
        state.counters["ratio"] = lib / bareUs;
        manager.reset();
    }
}

BENCHMARK(BM_RoomSocketFramesCpu)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->ComputeStatistics("max",
                        [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });

}  // namespace
