#include "platform/WebSocket/TlsWebSocketTransport.h"

// Asio's scheduler trips GCC's flow-based null-dereference check once inlined here.
#pragma GCC diagnostic ignored "-Wnull-dereference"
// Asio issues a standalone fence, which ThreadSanitizer cannot model.
#if defined(__GNUC__) && !defined(__clang__)  // a GCC-only warning
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <openssl/ssl.h>
#include <pthread.h>

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Http/TlsSessionCache.h"

namespace kr::platform {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

/// Where one connection goes: the host and port named in the URL (for TLS and the Host header)
/// and the address actually dialled after routing.
struct Target {
    std::string host;
    std::string port;
    std::string path;
    std::string dialHost;
    std::string dialPort;
};

std::vector<std::string> splitColons(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto colon = text.find(':', start);
        parts.emplace_back(text.substr(start, colon - start));
        if (colon == std::string_view::npos) {
            return parts;
        }
        start = colon + 1;
    }
}

std::optional<Target> parseTarget(std::string_view url, const HttpRouting& routing) {
    constexpr std::string_view scheme = "wss://";
    if (url.substr(0, scheme.size()) != scheme) {
        return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    const auto slash = url.find('/');
    const std::string_view authority = url.substr(0, slash);
    Target target;
    target.path = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
    const auto colon = authority.find(':');
    target.host = std::string(authority.substr(0, colon));
    target.port =
        colon == std::string_view::npos ? "443" : std::string(authority.substr(colon + 1));
    if (target.host.empty() || target.port.empty() ||
        target.host.find_first_of("@[] ") != std::string::npos) {
        return std::nullopt;
    }
    target.dialHost = target.host;
    target.dialPort = target.port;
    for (const std::string& entry : routing.connectTo) {
        const auto parts = splitColons(entry);
        if (parts.size() != 4) {
            continue;
        }
        if ((parts[0].empty() || parts[0] == target.host) &&
            (parts[1].empty() || parts[1] == target.port)) {
            if (!parts[2].empty()) {
                target.dialHost = parts[2];
            }
            if (!parts[3].empty()) {
                target.dialPort = parts[3];
            }
            break;
        }
    }
    return target;
}

/// The I/O thread shared by the connections of a transport. Only the connection handles own it;
/// the last of them to let go hands it to `IoCoreReaper`, so that
/// nobody waits for the closing handshakes still under way and it is never destroyed on its own
/// thread.
///
/// Events for the callers' queues are handed over when the thread runs out of ready work (or a
/// connection has gathered `kEventsPerPost` of them), so that a burst of messages read in one go
/// costs one post and one wake-up of the queue rather than one per message.
class IoCore {
public:
    /// A core whose last owner returns at once (see `IoCoreReaper`).
    static std::shared_ptr<IoCore> make();

    /// Only once the thread was joined (`finishBy`).
    ~IoCore() = default;
    IoCore(const IoCore&) = delete;
    IoCore& operator=(const IoCore&) = delete;

    /// The context of the thread. Reached from other threads only while the core has an owner.
    asio::io_context& io() { return *io_; }

    /// Runs `post` once the thread has no ready work left. I/O thread.
    void postWhenIdle(std::function<void()> post) { handOvers_.push_back(std::move(post)); }

    /// The owners are gone: the thread ends once the work under way is done.
    void release() { work_.reset(); }

    bool onItsThread() const { return thread_.get_id() == std::this_thread::get_id(); }

    /// Waits for the work under way until `deadline`, cuts it short past that, and joins the
    /// thread. After `release`, never on the core's own thread.
    void finishBy(std::chrono::steady_clock::time_point deadline) {
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_until(lock, deadline, [this] { return !running_; })) {
                io_->stop();  // the context is still there while the loop runs
            }
        }
        thread_.join();  // also waits for what the thread still releases
    }

private:
    IoCore() : work_(asio::make_work_guard(io())), thread_([this] { run(); }) {}

    void run() {
        pthread_setname_np(pthread_self(), "kr.websocket");
        while (!io_->stopped()) {
            io_->poll();
            handOver();
            io_->run_one();
        }
        handOver();
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        changed_.notify_all();
        // What a cut-short closing left behind goes on this thread, as everything else of its
        // connections does.
        io_.reset();
    }

    void handOver() {
        // A post may lead to more (a dropped queue destroys what its tasks hold): swap first.
        while (!handOvers_.empty()) {
            std::vector<std::function<void()>> due;
            due.swap(handOvers_);
            for (auto& post : due) {
                post();
            }
        }
    }

    std::optional<asio::io_context> io_{std::in_place, 1};  // run by this one thread only
    std::vector<std::function<void()>> handOvers_;          // I/O thread only
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = true;  // the loop goes on; `io_` is still there
    std::thread thread_;
};

/// Ends the I/O cores their owners let go, away from those owners: for each, in the order they
/// were let go, it waits until the closing handshakes under way are done or twice their bound
/// has passed (then cuts them short), and joins the thread. It works on a thread of its own,
/// started with the first core let go. The process's exit waits for the cores it still holds (each
/// within its bound), so that no I/O thread runs on into the teardown of the libraries it uses.
class IoCoreReaper {
public:
    /// Never destroyed: a core may still be let go while statics are destroyed at the exit.
    static IoCoreReaper& instance() {
        static IoCoreReaper* const reaper = new IoCoreReaper;
        return *reaper;
    }

    /// Takes the core its last owner let go. Any thread; returns at once until the exit began.
    void retire(IoCore* released) {
        std::unique_ptr<IoCore> core(released);
        core->release();
        const auto deadline =
            std::chrono::steady_clock::now() + 2 * WebSocketConnection::kCloseBound;
        std::unique_lock lock(mutex_);
        if (!exited_ || core->onItsThread()) {
            // A core let go on its own thread after the exit began is left to end by itself.
            retired_.push_back(Retired{std::move(core), deadline});
            if (!exited_ && !thread_.joinable()) {
                thread_ = std::thread([this] { run(); });
            }
            lock.unlock();
            changed_.notify_all();
            return;
        }
        lock.unlock();
        core->finishBy(deadline);  // past the exit's drain nobody else would
    }

    /// At the exit: ends every core let go so far and the reaper's thread.
    void drain() {
        {
            std::lock_guard lock(mutex_);
            exited_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    struct Retired {
        std::unique_ptr<IoCore> core;
        std::chrono::steady_clock::time_point deadline;
    };

    void run() {
        pthread_setname_np(pthread_self(), "kr.ws.reaper");
        for (;;) {
            Retired next;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !retired_.empty() || exited_; });
                if (retired_.empty()) {
                    return;
                }
                next = std::move(retired_.front());
                retired_.pop_front();
            }
            next.core->finishBy(next.deadline);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Retired> retired_;
    bool exited_ = false;
    std::thread thread_;
};

/// Drains the reaper when the process exits. Made with the first core, after the first TLS
/// context, so that the drain runs before OpenSSL's own clean-up at the exit.
struct IoCoreReaperExit {
    IoCoreReaperExit() { IoCoreReaper::instance(); }
    ~IoCoreReaperExit() { IoCoreReaper::instance().drain(); }
    IoCoreReaperExit(const IoCoreReaperExit&) = delete;
    IoCoreReaperExit& operator=(const IoCoreReaperExit&) = delete;
};

std::shared_ptr<IoCore> IoCore::make() {
    static IoCoreReaperExit drainAtExit;
    return std::shared_ptr<IoCore>(new IoCore,
                                   [](IoCore* core) { IoCoreReaper::instance().retire(core); });
}

/// Events on their way from the I/O thread to the caller's queue. At most one task drains it at a
/// time, so a burst of messages costs one post, and the messages the queue has not run yet are
/// counted so that the reader can wait for it.
struct Inbox {
    std::mutex mutex;
    std::vector<WebSocketEvent> events;
    bool taskPosted = false;
    std::size_t undelivered = 0;
    std::size_t undeliveredBytes = 0;
    bool readerWaiting = false;
};

bool isMessage(const WebSocketEvent& event) {
    return event.kind == WebSocketEvent::Kind::text || event.kind == WebSocketEvent::Kind::binary;
}

/// One connection's state; lives on the I/O thread only.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(const std::shared_ptr<IoCore>& core, std::shared_ptr<asio::ssl::context> ssl,
            std::optional<Target> target, WebSocketRequest request,
            std::weak_ptr<DispatchQueue> queue,
            std::shared_ptr<WebSocketConnection::EventHandler> handler,
            std::shared_ptr<std::atomic<bool>> stopped,
            std::shared_ptr<TlsSessionCache> tlsSessions)
        : core_(core),
          ioThread_(*core),
          ssl_(std::move(ssl)),
          tlsSessions_(std::move(tlsSessions)),
          ws_(core->io(), *ssl_),
          resolver_(core->io()),
          readerWake_(core->io()),
          writerIdle_(core->io()),
          target_(std::move(target)),
          timeout_(request.timeout),
          maxMessageSize_(request.maxMessageSize),
          acknowledge_(std::move(request.acknowledge)),
          queue_(std::move(queue)),
          handler_(std::move(handler)),
          stopped_(std::move(stopped)) {}

    void start() {
        if (started_ || stopping_) {
            return;
        }
        started_ = true;
        asio::co_spawn(ws_.get_executor(), run(shared_from_this()), asio::detached);
    }

    void send(std::string bytes) {
        if (!open_ || stopping_ || ended_) {
            return;
        }
        if (outbox_.size() >= WebSocketConnection::kMaxQueuedWrites) {
            // The peer has not taken our writes for a long time: give up on it.
            beast::error_code ignored;
            beast::get_lowest_layer(ws_).socket().close(ignored);
            return;
        }
        outbox_.push_back(Outgoing{std::move(bytes), std::nullopt});
        pump();
    }

    void stop(std::uint16_t closeCode) {
        if (stopping_) {
            return;
        }
        stopping_ = true;
        readerWake_.cancel();
        if (open_ && !ended_) {
            // The handshake gets a short bound: the caller is leaving and may be waiting for us.
            websocket::stream_base::timeout timeouts{};
            timeouts.handshake_timeout = WebSocketConnection::kCloseBound;
            timeouts.idle_timeout = websocket::stream_base::none();
            timeouts.keep_alive_pings = false;
            ws_.set_option(timeouts);
            outbox_.push_back(Outgoing{{}, closeCode});
            pump();
            return;
        }
        // An attempt in progress is abandoned: every pending operation fails at once.
        beast::error_code ignored;
        resolver_.cancel();
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    /// The queue has taken enough messages for reading to go on. I/O thread.
    void resumeReading() { readerWake_.cancel(); }

private:
    struct Outgoing {
        std::string bytes;
        std::optional<std::uint16_t> closeCode;
    };

    /// Queues `event` for the caller's queue. The post itself waits until the I/O thread has no
    /// ready work left, so that every message of a burst rides on one queue task.
    void deliver(WebSocketEvent event) {
        if (stopped_->load(std::memory_order_relaxed)) {
            return;
        }
        bool postNow = false;
        {
            std::lock_guard lock(inbox_->mutex);
            if (isMessage(event)) {
                ++inbox_->undelivered;
                inbox_->undeliveredBytes += event.payload.size();
            }
            inbox_->events.push_back(std::move(event));
            // A long burst still reaches the queue in slices, so it starts on them early.
            postNow = !inbox_->taskPosted && inbox_->events.size() >= kEventsPerPost;
        }
        if (postNow) {
            postInbox();
        } else if (!handOverPending_) {
            handOverPending_ = true;
            ioThread_.postWhenIdle([self = shared_from_this()] {
                self->handOverPending_ = false;
                self->postInbox();
            });
        }
    }

    /// Posts one task that takes every waiting event, unless one is already on its way.
    void postInbox() {
        auto queue = queue_.lock();
        if (!queue) {
            return;
        }
        {
            std::lock_guard lock(inbox_->mutex);
            if (inbox_->events.empty() || std::exchange(inbox_->taskPosted, true)) {
                return;
            }
        }
        queue->post([inbox = inbox_, handler = handler_, stopped = stopped_, core = core_,
                     session = weak_from_this()] {
            runInbox(*inbox, *handler, *stopped, core, session);
        });
    }

    /// Runs on the caller's queue: hands every waiting event to the handler, then lets a waiting
    /// reader go on once enough of them have been taken.
    static void runInbox(Inbox& inbox, WebSocketConnection::EventHandler& handler,
                         std::atomic<bool>& stopped, const std::weak_ptr<IoCore>& core,
                         const std::weak_ptr<Session>& session) {
        std::vector<WebSocketEvent> batch;
        {
            std::lock_guard lock(inbox.mutex);
            batch.swap(inbox.events);
            inbox.taskPosted = false;
        }
        std::size_t messages = 0;
        std::size_t bytes = 0;
        for (const WebSocketEvent& event : batch) {
            if (isMessage(event)) {
                ++messages;
                bytes += event.payload.size();
            }
            if (!stopped.load()) {
                handler(event);
            }
        }
        bool wake = false;
        {
            std::lock_guard lock(inbox.mutex);
            inbox.undelivered -= messages;
            inbox.undeliveredBytes -= bytes;
            if (inbox.readerWaiting &&
                inbox.undelivered <= WebSocketConnection::kMaxUndeliveredMessages / 2 &&
                inbox.undeliveredBytes <= WebSocketConnection::kMaxUndeliveredBytes / 2) {
                inbox.readerWaiting = false;
                wake = true;
            }
        }
        if (wake) {
            if (auto io = core.lock()) {
                asio::post(io->io(), [session] {
                    if (auto self = session.lock()) {
                        self->resumeReading();
                    }
                });
            }
        }
    }

    void fail(std::string_view what, const beast::error_code& ec) {
        if (!stopping_) {
            deliver(WebSocketEvent{WebSocketEvent::Kind::error,
                                   std::string(what) + ": " + ec.message(), 0, {}});
        }
    }

    std::chrono::steady_clock::duration remaining(std::chrono::steady_clock::time_point deadline) {
        const auto left = deadline - std::chrono::steady_clock::now();
        return left > std::chrono::steady_clock::duration::zero()
                   ? left
                   : std::chrono::steady_clock::duration(std::chrono::milliseconds(1));
    }

    static asio::awaitable<void> run(std::shared_ptr<Session> self) { co_await self->open(); }

    asio::awaitable<void> open() {
        if (!target_) {
            fail("connect", asio::error::invalid_argument);
            co_return;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout_;
        beast::error_code ec;
        auto token = asio::redirect_error(asio::use_awaitable, ec);
        auto& tcpStream = beast::get_lowest_layer(ws_);

        auto endpoints =
            co_await resolver_.async_resolve(target_->dialHost, target_->dialPort, token);
        if (ec || stopping_) {
            fail("resolve", ec ? ec : asio::error::operation_aborted);
            co_return;
        }
        tcpStream.expires_after(remaining(deadline));
        co_await tcpStream.async_connect(endpoints, token);
        if (ec || stopping_) {
            fail("connect", ec ? ec : asio::error::operation_aborted);
            co_return;
        }
        tcpStream.socket().set_option(tcp::no_delay(true), ec);

        SSL* ssl = ws_.next_layer().native_handle();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // OpenSSL's macro casts the C way
        const long sniSet = SSL_set_tlsext_host_name(ssl, target_->host.c_str());
#pragma GCC diagnostic pop
        if (sniSet != 1) {
            fail("tls", asio::error::invalid_argument);
            co_return;
        }
        ws_.next_layer().set_verify_mode(asio::ssl::verify_peer);
        ws_.next_layer().set_verify_callback(asio::ssl::host_name_verification(target_->host));
        // Resumes the latest session of this very host name, if the other transport or an earlier
        // socket left one; a server that refuses it runs a full handshake instead.
        if (tlsSessions_) {
            if (SSL_SESSION* session = tlsSessions_->find(target_->host)) {
                SSL_set_session(ssl, session);
                SSL_SESSION_free(session);
            }
        }
        tcpStream.expires_after(remaining(deadline));
        co_await ws_.next_layer().async_handshake(asio::ssl::stream_base::client, token);
        if (ec || stopping_) {
            fail("tls", ec ? ec : asio::error::operation_aborted);
            co_return;
        }

        tcpStream.expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout =
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(remaining(deadline));
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator([](websocket::request_type& request) {
            request.set(beast::http::field::user_agent, "KivRaneCoreSDK");
        }));
        // The size limit is ours (see readMessage); the stream's own only stops absurd frames,
        // failing the connection at once.
        ws_.read_message_max(maxMessageSize_ > std::numeric_limits<std::size_t>::max() / 4
                                 ? 0
                                 : maxMessageSize_ * 4);
        const std::string hostHeader =
            target_->port == "443" ? target_->host : target_->host + ":" + target_->port;
        co_await ws_.async_handshake(hostHeader, target_->path, token);
        if (ec || stopping_) {
            fail("handshake", ec ? ec : asio::error::operation_aborted);
            co_return;
        }
        // The closing handshake keeps the opening's bound, so a silent peer cannot hold us.
        timeouts.handshake_timeout = timeout_;
        ws_.set_option(timeouts);
        ws_.binary(true);
        open_ = true;
        // The server's tickets come before its upgrade reply, so the session is resumable now.
        if (tlsSessions_) {
            tlsSessions_->store(target_->host, SSL_get0_session(ssl));
        }
        deliver(WebSocketEvent{WebSocketEvent::Kind::connected, {}, 0, {}});
        co_await readLoop();
    }

    /// Waits while too many messages wait for the queue; false once the connection is stopping.
    asio::awaitable<bool> waitForRoom() {
        for (;;) {
            if (stopping_) {
                co_return false;
            }
            {
                std::lock_guard lock(inbox_->mutex);
                // A message whose acknowledgement is being written counts as waiting already.
                const std::size_t inFlight = inFlightBytes_ ? 1 : 0;
                if (inbox_->undelivered + inFlight < WebSocketConnection::kMaxUndeliveredMessages &&
                    inbox_->undeliveredBytes + inFlightBytes_.value_or(0) <
                        WebSocketConnection::kMaxUndeliveredBytes) {
                    co_return true;
                }
                inbox_->readerWaiting = true;
            }
            beast::error_code ignored;
            readerWake_.expires_at(asio::steady_timer::time_point::max());
            co_await readerWake_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
        }
    }

    /// Waits until no write is under way, then claims the stream for one. False once ended.
    asio::awaitable<bool> claimWriter() {
        while (writing_ && !ended_) {
            beast::error_code ignored;
            writerIdle_.expires_at(asio::steady_timer::time_point::max());
            co_await writerIdle_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
        }
        if (ended_) {
            co_return false;
        }
        writing_ = true;
        co_return true;
    }

    void releaseWriter() {
        writing_ = false;
        writerIdle_.cancel();
        if (!ended_) {
            pump();
        }
    }

    asio::awaitable<void> readLoop() {
        beast::flat_buffer buffer;
        WebSocketEvent end{WebSocketEvent::Kind::disconnected, {}, 1006, {}};
        while (co_await waitForRoom() || stopping_) {
            beast::error_code ec;
            auto token = asio::redirect_error(asio::use_awaitable, ec);
            // A message over the limit is read to its end and thrown away, so that the peer
            // gets our close frame rather than a reset.
            bool tooBig = false;
            do {
                co_await ws_.async_read_some(buffer, kReadChunk, token);
                if (ec) {
                    break;
                }
                if (tooBig || buffer.size() > maxMessageSize_) {
                    tooBig = true;
                    buffer.clear();
                }
            } while (!ws_.is_message_done());
            if (ec) {
                if (ec == websocket::error::closed) {
                    const auto& reason = ws_.reason();
                    end = WebSocketEvent{WebSocketEvent::Kind::disconnected,
                                         std::string(reason.reason.c_str()),
                                         static_cast<std::uint16_t>(reason.code), {}};
                } else {
                    end.payload = ec.message();
                }
                break;
            }
            if (stopping_) {
                buffer.clear();
                continue;  // nobody takes it; the close under way ends the loop
            }
            if (tooBig) {
                end = WebSocketEvent{WebSocketEvent::Kind::disconnected,
                                     "message larger than " + std::to_string(maxMessageSize_) +
                                         " bytes",
                                     static_cast<std::uint16_t>(websocket::close_code::too_big), {}};
                if (co_await claimWriter()) {
                    co_await ws_.async_close(websocket::close_code::too_big, token);
                    releaseWriter();
                }
                break;
            }
            const bool text = ws_.got_text();
            WebSocketEvent message{text ? WebSocketEvent::Kind::text : WebSocketEvent::Kind::binary,
                                   beast::buffers_to_string(buffer.data()), 0, {}};
            buffer.clear();
            std::optional<WebSocketAcknowledgement> reply;
            if (text && acknowledge_) {
                reply = acknowledge_(message.payload);
            }
            // Messages are handed on in the order they came, so this one waits for the
            // acknowledgement in flight (which hands its own message on once written).
            if (!co_await claimWriter()) {
                continue;
            }
            if (!reply) {
                releaseWriter();
                deliver(std::move(message));
                continue;
            }
            // The acknowledgement is written while the next message is read, and its message is
            // handed on once it went out; one whose answer did not go out is not handed on. Only
            // one is ever in flight, and the stream answers a close (or a ping) only after the
            // write under way, so a close that follows the messages cannot overtake their
            // acknowledgements.
            reply_ = std::move(reply->reply);
            message.prepared = std::move(reply->prepared);
            inFlightBytes_ = message.payload.size();
            ws_.async_write(asio::buffer(reply_),
                            [self = shared_from_this(), message = std::move(message)](
                                const beast::error_code& written, std::size_t) mutable {
                                self->inFlightBytes_.reset();
                                if (!written) {
                                    self->deliver(std::move(message));
                                }
                                self->releaseWriter();
                            });
        }
        ended_ = true;
        outbox_.clear();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        // A write still under way ends at once now; what it hands on comes before the end.
        while (writing_) {
            writerIdle_.expires_at(asio::steady_timer::time_point::max());
            co_await writerIdle_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
        }
        deliver(std::move(end));
    }

    void pump() {
        if (writing_ || outbox_.empty() || ended_) {
            return;
        }
        writing_ = true;
        asio::co_spawn(ws_.get_executor(), drain(shared_from_this()), asio::detached);
    }

    static asio::awaitable<void> drain(std::shared_ptr<Session> self) {
        while (!self->outbox_.empty() && !self->ended_) {
            Outgoing next = std::move(self->outbox_.front());
            self->outbox_.pop_front();
            beast::error_code ec;
            auto token = asio::redirect_error(asio::use_awaitable, ec);
            if (next.closeCode) {
                co_await self->ws_.async_close(websocket::close_reason(*next.closeCode), token);
                self->outbox_.clear();
                break;
            }
            co_await self->ws_.async_write(asio::buffer(next.bytes), token);
            if (ec) {
                self->outbox_.clear();  // the read loop reports the end
                break;
            }
        }
        self->writing_ = false;
        self->writerIdle_.cancel();
    }

    static constexpr std::size_t kReadChunk = 64 * 1024;
    static constexpr std::size_t kEventsPerPost = 64;

    const std::weak_ptr<IoCore> core_;
    // The same core, for code running on its thread: the thread ends before the core does, so
    // such code reaches it without holding it (holding it would keep the thread from ending).
    IoCore& ioThread_;
    std::shared_ptr<asio::ssl::context> ssl_;
    const std::shared_ptr<TlsSessionCache> tlsSessions_;
    // The concrete executor spares every operation of the stream the type-erased one's cost.
    websocket::stream<beast::ssl_stream<
        beast::basic_stream<tcp, asio::io_context::executor_type, beast::unlimited_rate_policy>>>
        ws_;
    tcp::resolver resolver_;
    asio::steady_timer readerWake_;  // cancelled to wake a reader waiting for the queue
    asio::steady_timer writerIdle_;  // cancelled when a write ends
    const std::optional<Target> target_;
    const std::chrono::milliseconds timeout_;
    const std::size_t maxMessageSize_;
    const std::function<std::optional<WebSocketAcknowledgement>(std::string_view)> acknowledge_;
    const std::weak_ptr<DispatchQueue> queue_;
    const std::shared_ptr<WebSocketConnection::EventHandler> handler_;
    const std::shared_ptr<std::atomic<bool>> stopped_;
    const std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    std::deque<Outgoing> outbox_;
    std::string reply_;  // the acknowledgement being written
    std::optional<std::size_t> inFlightBytes_;  // the size of its message
    bool started_ = false;
    bool stopping_ = false;
    bool open_ = false;
    bool ended_ = false;
    bool writing_ = false;
    bool handOverPending_ = false;  // a post of the inbox waits for the thread to idle
};

class TlsConnection final : public WebSocketConnection {
public:
    TlsConnection(std::shared_ptr<IoCore> core, std::shared_ptr<Session> session,
                  std::shared_ptr<std::atomic<bool>> stopped)
        : core_(std::move(core)), session_(std::move(session)), stopped_(std::move(stopped)) {}

    ~TlsConnection() override {
        disconnect(1000);
        session_.reset();  // before the I/O thread may go with core_
    }

    void connect() override {
        asio::post(core_->io(), [session = session_] { session->start(); });
    }

    void write(std::string bytes) override {
        asio::post(core_->io(), [session = session_, bytes = std::move(bytes)]() mutable {
            session->send(std::move(bytes));
        });
    }

    void disconnect(std::uint16_t closeCode) override {
        if (stopped_->exchange(true)) {
            return;
        }
        asio::post(core_->io(), [session = session_, closeCode] { session->stop(closeCode); });
    }

private:
    std::shared_ptr<IoCore> core_;  // declared first: released last
    std::shared_ptr<Session> session_;
    std::shared_ptr<std::atomic<bool>> stopped_;
};

class TlsTransport final : public WebSocketTransport {
public:
    explicit TlsTransport(HttpRouting routing)
        : routing_(std::move(routing)),
          ssl_(std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client)) {
        beast::error_code ignored;
        ssl_->set_verify_mode(asio::ssl::verify_peer);
        if (!routing_.caFile.empty()) {
            ssl_->load_verify_file(routing_.caFile, ignored);
        } else {
            ssl_->set_default_verify_paths(ignored);
        }
    }

    std::shared_ptr<WebSocketConnection> makeConnection(
        WebSocketRequest request, std::shared_ptr<DispatchQueue> queue,
        WebSocketConnection::EventHandler handler) override {
        if (routing_.maxTimeout && *routing_.maxTimeout < request.timeout) {
            request.timeout = *routing_.maxTimeout;
        }
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        auto target = parseTarget(request.url, routing_);
        std::shared_ptr<IoCore> core = ioCore();
        auto session = std::make_shared<Session>(
            core, ssl_, std::move(target), std::move(request), std::move(queue),
            std::make_shared<WebSocketConnection::EventHandler>(std::move(handler)), stopped,
            routing_.tlsSessions);
        return std::make_shared<TlsConnection>(std::move(core), std::move(session),
                                               std::move(stopped));
    }

private:
    /// The thread of the connections still held, or a new one when none is: a transport kept
    /// for later connections runs no thread in between.
    std::shared_ptr<IoCore> ioCore() {
        std::lock_guard lock(coreMutex_);
        std::shared_ptr<IoCore> core = core_.lock();
        if (!core) {
            core = IoCore::make();
            core_ = core;
        }
        return core;
    }

    const HttpRouting routing_;
    const std::shared_ptr<asio::ssl::context> ssl_;  // set up once: costly with OpenSSL 3
    std::mutex coreMutex_;  // connections may be made from several queues
    std::weak_ptr<IoCore> core_;
};

}  // namespace

std::shared_ptr<WebSocketTransport> makeTlsWebSocketTransport(HttpRouting routing) {
    return std::make_shared<TlsTransport>(std::move(routing));
}

}  // namespace kr::platform
