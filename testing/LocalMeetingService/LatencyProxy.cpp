#include "testing/LocalMeetingService/LatencyProxy.h"

#include "testing/LocalMeetingService/AsioServer.h"

#include <array>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <deque>
#include <string>
#include <utility>

namespace kr::test {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

/// One direction of a proxied connection: chunks read from `from`, waiting for their release.
struct Pipe {
    Pipe(tcp::socket& source, tcp::socket& sink, asio::io_context& io, LatencySchedule plan)
        : from(source), to(sink), ready(io), sleep(io), schedule(plan) {}

    tcp::socket& from;
    tcp::socket& to;
    std::deque<std::pair<LatencySchedule::Clock::time_point, std::string>> chunks;
    bool ended = false;         // nothing more comes from `from`
    asio::steady_timer ready;   // cancelled when a chunk or the end arrives
    asio::steady_timer sleep;   // the writer waiting for the front chunk's release
    LatencySchedule schedule;
};

/// Both directions of one client connection; the coroutines serving it hold it.
struct Link {
    Link(tcp::socket accepted, asio::io_context& io, std::chrono::milliseconds roundTrip)
        : client(std::move(accepted)),
          server(io),
          up(client, server, io, LatencySchedule(oneWay(roundTrip), roundTrip)),
          down(server, client, io, LatencySchedule(oneWay(roundTrip), {})) {}

    // Half in the clock's own unit: half of an odd number of milliseconds is no whole one.
    static LatencySchedule::Clock::duration oneWay(std::chrono::milliseconds roundTrip) {
        return LatencySchedule::Clock::duration(roundTrip) / 2;
    }

    void closeBoth() {
        boost::system::error_code ignored;
        client.close(ignored);
        server.close(ignored);
    }

    tcp::socket client;
    tcp::socket server;
    Pipe up;    // client to server
    Pipe down;  // server to client
};

asio::awaitable<void> readInto([[maybe_unused]] std::shared_ptr<Link> link, Pipe& pipe) {
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        boost::system::error_code ec;
        const std::size_t n = co_await pipe.from.async_read_some(
            asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
        if (n > 0) {
            const auto release = pipe.schedule.releaseAt(LatencySchedule::Clock::now());
            pipe.chunks.emplace_back(release, std::string(buffer.data(), n));
        }
        if (ec) {
            pipe.ended = true;  // the end, too, reaches the other side after the bytes before it
        }
        pipe.ready.cancel();
        if (ec) {
            co_return;
        }
    }
}

asio::awaitable<void> writeFrom(std::shared_ptr<Link> link, Pipe& pipe) {
    for (;;) {
        boost::system::error_code ec;
        while (pipe.chunks.empty() && !pipe.ended) {
            pipe.ready.expires_at(asio::steady_timer::time_point::max());
            co_await pipe.ready.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        }
        if (pipe.chunks.empty()) {
            pipe.to.shutdown(tcp::socket::shutdown_send, ec);
            co_return;
        }
        pipe.sleep.expires_at(pipe.chunks.front().first);
        co_await pipe.sleep.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        const std::string bytes = std::move(pipe.chunks.front().second);
        pipe.chunks.pop_front();
        co_await asio::async_write(pipe.to, asio::buffer(bytes),
                                   asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            link->closeBoth();
            co_return;
        }
    }
}

}  // namespace

class LatencyProxy::Impl {
public:
    Impl(std::uint16_t upstreamPort, std::chrono::milliseconds roundTrip)
        : upstream_(asio::ip::address_v4::loopback(), upstreamPort), roundTrip_(roundTrip) {
        asio::co_spawn(io_, accept(), asio::detached);
    }

    asio::awaitable<void> accept() {
        for (;;) {
            boost::system::error_code ec;
            tcp::socket client =
                co_await acceptor_.async_accept(asio::redirect_error(asio::use_awaitable, ec));
            if (ec) {
                co_return;
            }
            client.set_option(tcp::no_delay(true), ec);
            asio::co_spawn(io_, serve(std::make_shared<Link>(std::move(client), io_, roundTrip_)),
                           asio::detached);
        }
    }

    // The loopback connection to the server costs nothing; the client's first bytes carry the
    // handshake's round trip instead (see `LatencySchedule`).
    asio::awaitable<void> serve(std::shared_ptr<Link> link) {
        boost::system::error_code ec;
        co_await link->server.async_connect(upstream_,
                                            asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            link->closeBoth();
            co_return;
        }
        link->server.set_option(tcp::no_delay(true), ec);
        asio::co_spawn(io_, readInto(link, link->up), asio::detached);
        asio::co_spawn(io_, writeFrom(link, link->up), asio::detached);
        asio::co_spawn(io_, readInto(link, link->down), asio::detached);
        asio::co_spawn(io_, writeFrom(link, link->down), asio::detached);
    }

    asio::io_context io_{1};
    tcp::acceptor acceptor_ = listenOnLoopback(io_);
    const tcp::endpoint upstream_;
    const std::chrono::milliseconds roundTrip_;
    const std::uint16_t port_ = acceptor_.local_endpoint().port();
    ServerThread thread_{io_};  // last: it ends before the members above go
};

LatencyProxy::LatencyProxy(std::uint16_t upstreamPort, std::chrono::milliseconds roundTrip)
    : impl_(std::make_unique<Impl>(upstreamPort, roundTrip)) {}

LatencyProxy::~LatencyProxy() = default;

platform::HttpRouting LatencyProxy::routing(platform::HttpRouting direct) const {
    direct.connectTo = {"::127.0.0.1:" + std::to_string(impl_->port_)};
    return direct;
}

}  // namespace kr::test
