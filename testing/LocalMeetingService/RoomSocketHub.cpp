#include "testing/LocalMeetingService/RoomSocketHub.h"

#include <algorithm>

#include "testing/LocalMeetingService/AsioServer.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/json/parse.hpp>
#include <deque>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace json = boost::json;

/// One upgraded connection; its socket is touched on the I/O thread only.
class RoomSocketHub::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(RoomSocketHub& hub, Stream stream, std::uint64_t id, bool stopReadingAfterLogin)
        : hub_(hub),
          ws_(std::move(stream)),
          id_(id),
          stopReadingAfterLogin_(stopReadingAfterLogin) {}

    asio::any_io_executor executor() { return ws_.get_executor(); }

    asio::awaitable<void> run(Request request) {
        beast::error_code ec;
        auto token = asio::redirect_error(asio::use_awaitable, ec);
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        co_await ws_.async_accept(request, token);
        if (ec) {
            co_return;
        }
        {
            std::lock_guard lock(hub_.mutex_);
            hub_.connections_.push_back(weak_from_this());
            open_ = true;
        }
        hub_.changed();
        beast::flat_buffer buffer;
        for (;;) {
            co_await ws_.async_read(buffer, token);
            if (ec) {
                break;
            }
            const bool login = received(ws_.got_binary(), beast::buffers_to_string(buffer.data()));
            buffer.consume(buffer.size());
            if (login && stopReadingAfterLogin_) {
                // Stays open without reading (its answer still goes out) until the service goes.
                asio::steady_timer never(ws_.get_executor(), asio::steady_timer::time_point::max());
                co_await never.async_wait(token);
            }
        }
        const auto closeCode = ec == websocket::error::closed
                                   ? static_cast<std::uint16_t>(ws_.reason().code)
                                   : std::uint16_t{1006};
        ended_ = true;
        {
            std::lock_guard lock(hub_.mutex_);
            open_ = false;
            login_.reset();
            hub_.clientCloseCodes_.push_back(closeCode);
            hub_.unwritten_ -= unwrittenFrames();
        }
        outbox_.clear();
        hub_.changed();
    }

    /// Queues a text frame (or, with `closeCode`, a close frame; `stillReading` writes it below
    /// the WebSocket layer, which would otherwise drop what the client sends after it). I/O
    /// thread.
    void send(std::string text, std::optional<std::uint16_t> closeCode = std::nullopt,
              bool stillReading = false) {
        if (ended_) {
            return;
        }
        if (!closeCode) {
            std::lock_guard lock(hub_.mutex_);
            ++hub_.unwritten_;
        }
        outbox_.push_back({std::move(text), closeCode, stillReading});
        if (!writing_) {
            writing_ = true;
            asio::co_spawn(ws_.get_executor(), drain(shared_from_this()), asio::detached);
        }
    }

    /// Cuts the TCP connection without a close frame. I/O thread.
    void drop() {
        beast::error_code ignored;
        auto& socket = beast::get_lowest_layer(ws_).socket();
        socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    // Guarded by the hub's mutex.
    bool open_ = false;
    std::optional<RoomSocketLogin> login_;

private:
    struct Outgoing {
        std::string text;
        std::optional<std::uint16_t> closeCode;
        bool stillReading = false;
    };

    std::size_t unwrittenFrames() const {
        return static_cast<std::size_t>(std::count_if(
            outbox_.begin(), outbox_.end(), [](const Outgoing& o) { return !o.closeCode; }));
    }

    void forgetUnwritten() {
        std::lock_guard lock(hub_.mutex_);
        hub_.unwritten_ -= unwrittenFrames();
    }

    static asio::awaitable<void> drain(std::shared_ptr<Connection> self) {
        while (!self->outbox_.empty() && !self->ended_) {
            Outgoing next = std::move(self->outbox_.front());
            self->outbox_.pop_front();
            beast::error_code ec;
            auto token = asio::redirect_error(asio::use_awaitable, ec);
            if (next.closeCode && next.stillReading) {
                // An unmasked close frame carrying the code; the read loop answers the client's.
                const std::uint8_t frame[] = {0x88, 0x02,
                                              static_cast<std::uint8_t>(*next.closeCode >> 8),
                                              static_cast<std::uint8_t>(*next.closeCode & 0xff)};
                co_await asio::async_write(self->ws_.next_layer(), asio::buffer(frame), token);
                self->forgetUnwritten();
                self->outbox_.clear();
                break;
            }
            if (next.closeCode) {
                co_await self->ws_.async_close(websocket::close_reason(*next.closeCode), token);
                self->forgetUnwritten();
                self->outbox_.clear();
                break;
            }
            self->ws_.text(true);
            co_await self->ws_.async_write(asio::buffer(next.text), token);
            {
                std::lock_guard lock(self->hub_.mutex_);
                --self->hub_.unwritten_;
            }
            if (ec) {
                self->forgetUnwritten();
                self->outbox_.clear();
                break;
            }
        }
        self->writing_ = false;
    }

    /// Records a frame and answers a login; true for a login frame.
    bool received(bool binary, std::string text) {
        RoomSocketFrame frame;
        frame.connectionId = id_;
        frame.receivedAt = std::chrono::steady_clock::now();
        frame.binary = binary;
        frame.text = std::move(text);
        boost::system::error_code ec;
        json::value parsed = json::parse(frame.text, ec);
        if (!ec && parsed.is_object()) {
            const json::object& object = parsed.as_object();
            if (const auto* event = object.if_contains("event"); event && event->is_string()) {
                frame.event = std::string(event->as_string());
            }
            if (const auto* data = object.if_contains("data"); data && data->is_object()) {
                frame.data = data->as_object();
            }
        }
        if (frame.event == "login") {
            const json::value* token = frame.data.if_contains("token");
            std::optional<RoomSocketLogin> login;
            if (token != nullptr && token->is_string()) {
                login = hub_.verifier_(std::string_view(token->as_string()));
            }
            {
                std::lock_guard lock(hub_.mutex_);
                hub_.received_.add(frame);
                login_ = login;
                if (login) {
                    ++hub_.logins_;
                }
            }
            if (login) {
                send(serializeJson(json::object{
                    {"event", "login"},
                    {"data", json::object{{"success", true}, {"userId", login->userId}}}}));
            } else {
                send({}, static_cast<std::uint16_t>(websocket::close_code::policy_error));
            }
            hub_.changed();
            return true;
        }
        {
            std::lock_guard lock(hub_.mutex_);
            hub_.received_.add(std::move(frame));
        }
        hub_.changed();
        return false;
    }

    RoomSocketHub& hub_;
    websocket::stream<Stream> ws_;
    const std::uint64_t id_;
    const bool stopReadingAfterLogin_;
    std::deque<Outgoing> outbox_;
    bool writing_ = false;
    bool ended_ = false;
};

RoomSocketHub::RoomSocketHub(Verifier verifier) : verifier_(std::move(verifier)) {}

RoomSocketHub::~RoomSocketHub() = default;

RoomSocketHub::HandshakeFault RoomSocketHub::takeHandshakeFault() {
    std::lock_guard lock(mutex_);
    if (refuseCount_ != 0) {
        if (refuseCount_ > 0) {
            --refuseCount_;
        }
        return HandshakeFault::refuse;
    }
    if (stallCount_ != 0) {
        if (stallCount_ > 0) {
            --stallCount_;
        }
        return HandshakeFault::stall;
    }
    return HandshakeFault::none;
}

asio::awaitable<void> RoomSocketHub::serve(Stream stream, Request request,
                                           std::uint64_t connectionId) {
    // Keeps the hub alive while the connection runs, even if the service lets it go.
    auto self = shared_from_this();
    beast::error_code ec;
    auto token = asio::redirect_error(asio::use_awaitable, ec);
    switch (takeHandshakeFault()) {
        case HandshakeFault::refuse: {
            http::response<http::string_body> response{http::status::forbidden, request.version()};
            response.set(http::field::content_type, "text/plain");
            response.body() = "upgrade refused";
            response.keep_alive(false);
            response.prepare_payload();
            co_await http::async_write(stream, response, token);
            beast::get_lowest_layer(stream).socket().shutdown(asio::ip::tcp::socket::shutdown_both,
                                                              ec);
            co_return;
        }
        case HandshakeFault::stall: {
            {
                std::lock_guard lock(mutex_);
                ++stalled_;
            }
            changed();
            char byte = 0;
            do {
                co_await stream.async_read_some(asio::buffer(&byte, 1), token);
            } while (!ec);
            {
                std::lock_guard lock(mutex_);
                ++abandoned_;
            }
            changed();
            co_return;
        }
        case HandshakeFault::none:
            break;
    }
    auto connection = std::make_shared<Connection>(*this, std::move(stream), connectionId,
                                                   takeStopReadingFault());
    co_await connection->run(std::move(request));
}

bool RoomSocketHub::takeStopReadingFault() {
    std::lock_guard lock(mutex_);
    if (stopReadingCount_ == 0) {
        return false;
    }
    if (stopReadingCount_ > 0) {
        --stopReadingCount_;
    }
    return true;
}

void RoomSocketHub::refuseHandshakes(int count) {
    std::lock_guard lock(mutex_);
    refuseCount_ = count;
}

void RoomSocketHub::stallHandshakes(int count) {
    std::lock_guard lock(mutex_);
    stallCount_ = count;
}

void RoomSocketHub::stopReadingAfterLogin(int count) {
    std::lock_guard lock(mutex_);
    stopReadingCount_ = count;
}

void RoomSocketHub::clearFaults() {
    std::lock_guard lock(mutex_);
    refuseCount_ = 0;
    stallCount_ = 0;
    stopReadingCount_ = 0;
}

void RoomSocketHub::forEachOpen(
    const std::function<bool(const Connection&)>& filter,
    const std::function<void(const std::shared_ptr<Connection>&)>& action) {
    std::vector<std::shared_ptr<Connection>> targets;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
        for (const auto& weak : connections_) {
            if (auto connection = weak.lock();
                connection && connection->open_ && filter(*connection)) {
                targets.push_back(std::move(connection));
            }
        }
    }
    for (const auto& connection : targets) {
        action(connection);
    }
}

void RoomSocketHub::closeAll(std::uint16_t code) {
    forEachOpen([](const Connection&) { return true; },
                [code](const std::shared_ptr<Connection>& connection) {
                    asio::post(connection->executor(),
                               [connection, code] { connection->send({}, code); });
                });
}

void RoomSocketHub::closeAllStillReading(std::uint16_t code) {
    forEachOpen([](const Connection&) { return true; },
                [code](const std::shared_ptr<Connection>& connection) {
                    asio::post(connection->executor(),
                               [connection, code] { connection->send({}, code, true); });
                });
}

void RoomSocketHub::dropAll() {
    forEachOpen([](const Connection&) { return true; },
                [](const std::shared_ptr<Connection>& connection) {
                    asio::post(connection->executor(), [connection] { connection->drop(); });
                });
}

void RoomSocketHub::pushToRoom(std::string_view roomOrMeetingId, std::string text,
                               std::string_view exceptUserId) {
    const std::string id(roomOrMeetingId);
    const std::string except(exceptUserId);
    forEachOpen(
        [&](const Connection& connection) {
            const auto& login = connection.login_;  // hub mutex held by forEachOpen
            return login && (except.empty() || login->userId != except) &&
                   (login->meetingId.empty() || login->meetingId == id || login->roomId == id);
        },
        [&text](const std::shared_ptr<Connection>& connection) {
            asio::post(connection->executor(), [connection, text] { connection->send(text); });
        });
}

void RoomSocketHub::pushToAll(std::string text) {
    forEachOpen([](const Connection& connection) { return connection.login_.has_value(); },
                [&text](const std::shared_ptr<Connection>& connection) {
                    asio::post(connection->executor(),
                               [connection, text] { connection->send(text); });
                });
}

void RoomSocketHub::pushChatMessage(std::string_view roomId, const json::object& message,
                                    std::string_view exceptUserId) {
    pushToRoom(roomId, serializeJson(json::object{{"event", "chatMessage"}, {"data", message}}),
               exceptUserId);
}

void RoomSocketHub::pushChatMessageTo(const std::vector<std::string>& userIds,
                                      const json::object& message) {
    const std::string text =
        serializeJson(json::object{{"event", "chatMessage"}, {"data", message}});
    forEachOpen(
        [&](const Connection& connection) {
            const auto& login = connection.login_;  // hub mutex held by forEachOpen
            return login && std::find(userIds.begin(), userIds.end(), login->userId) !=
                                userIds.end();
        },
        [&text](const std::shared_ptr<Connection>& connection) {
            asio::post(connection->executor(), [connection, text] { connection->send(text); });
        });
}

std::vector<RoomSocketFrame> RoomSocketHub::receivedFrames() const {
    std::lock_guard lock(mutex_);
    return received_.copy();
}

std::size_t RoomSocketHub::receivedFrameCount() const {
    std::lock_guard lock(mutex_);
    return received_.total();
}

std::size_t RoomSocketHub::loginCount() const {
    std::lock_guard lock(mutex_);
    return logins_;
}

std::size_t RoomSocketHub::openConnectionCount() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& weak : connections_) {
        if (auto connection = weak.lock(); connection && connection->open_) {
            ++count;
        }
    }
    return count;
}

std::vector<std::uint16_t> RoomSocketHub::clientCloseCodes() const {
    std::lock_guard lock(mutex_);
    return clientCloseCodes_;
}

std::size_t RoomSocketHub::unwrittenFrameCount() const {
    std::lock_guard lock(mutex_);
    return unwritten_;
}

std::size_t RoomSocketHub::stalledHandshakeCount() const {
    std::lock_guard lock(mutex_);
    return stalled_;
}

std::size_t RoomSocketHub::abandonedHandshakeCount() const {
    std::lock_guard lock(mutex_);
    return abandoned_;
}

bool RoomSocketHub::waitUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(mutex_);
            seen = version_;
        }
        if (done()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return version_ != seen; })) {
            lock.unlock();
            return done();
        }
    }
}

void RoomSocketHub::changed() const {
    {
        std::lock_guard lock(mutex_);
        ++version_;
    }
    changed_.notify_all();
}

}  // namespace kr::test
