#include "testing/LocalMeetingService/LocalHttpsServer.h"

#include <zlib.h>

#include "testing/LocalMeetingService/AsioServer.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/BoundedRecord.h"
#include "testing/LocalMeetingService/LocalWebSocketEndpoint.h"
#include "testing/LocalMeetingService/TestCertificateAuthority.h"

namespace kr::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

std::string gzipCompress(const std::string& input) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(input.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

struct Route {
    std::string method;
    std::string path;
    std::shared_ptr<LocalHttpsServer::Handler> handler;
};

}  // namespace

class LocalHttpsServer::Impl {
public:
    explicit Impl(std::vector<std::string> hostNames)
        : authority_(std::move(hostNames)), ssl_(asio::ssl::context::tls_server) {
        ssl_.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3);
        ssl_.use_certificate_chain(asio::buffer(authority_.serverCertificatePem()));
        ssl_.use_private_key(asio::buffer(authority_.serverPrivateKeyPem()),
                             asio::ssl::context::pem);
        asio::co_spawn(io_, accept(), [](std::exception_ptr) {});
    }

    asio::awaitable<void> accept() {
        for (;;) {
            tcp::socket socket = co_await acceptor_.async_accept(asio::use_awaitable);
            socket.set_option(tcp::no_delay(true));
            std::uint64_t id = 0;
            {
                std::lock_guard lock(mutex_);
                id = connectionRecords_.total() + 1;
                connectionRecords_.add(
                    ConnectionRecord{id, std::chrono::steady_clock::now(), false, false, {}});
            }
            asio::co_spawn(io_, serve(std::move(socket), id), [](std::exception_ptr) {});
        }
    }

    asio::awaitable<void> serve(tcp::socket socket, std::uint64_t connectionId) {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), ssl_);
        co_await stream.async_handshake(asio::ssl::stream_base::server, asio::use_awaitable);
        countHandshake(stream.native_handle(), connectionId);
        beast::flat_buffer buffer;
        for (;;) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(64 * 1024 * 1024);
            co_await http::async_read(stream, buffer, parser, asio::use_awaitable);
            const auto& request = parser.get();

            RecordedRequest record;
            record.method = std::string(request.method_string());
            record.version = request.version();
            record.target = std::string(request.target());
            const auto question = record.target.find('?');
            record.path = record.target.substr(0, question);
            if (question != std::string::npos) {
                record.hasQuery = true;
                record.query = record.target.substr(question + 1);
            }
            for (const auto& field : request) {
                record.headers.emplace_back(std::string(field.name_string()),
                                            std::string(field.value()));
            }
            record.body = request.body();
            record.connectionId = connectionId;
            record.receivedAt = std::chrono::steady_clock::now();
            const bool keepAlive = request.keep_alive();

            this->record(record);
            if (auto endpoint = webSocketEndpoint(record.path);
                endpoint && beast::websocket::is_upgrade(request)) {
                co_await endpoint->serve(std::move(stream), parser.release(), connectionId);
                co_return;
            }
            ServerReply reply = dispatch(record);

            if (reply.delay.count() > 0) {
                asio::steady_timer timer(io_, reply.delay);
                co_await timer.async_wait(asio::use_awaitable);
            }
            if (reply.handleLate) {
                reply = reply.handleLate();
            }
            if (reply.streamed) {
                co_await writeStreamed(stream, reply, record.version);
                co_return;
            }
            if (reply.dropConnection) {
                beast::error_code ignored;
                beast::get_lowest_layer(stream).socket().shutdown(tcp::socket::shutdown_both,
                                                                  ignored);
                beast::get_lowest_layer(stream).socket().close(ignored);
                co_return;
            }

            http::response<http::string_body> response{static_cast<http::status>(reply.status),
                                                       record.version};
            response.set(http::field::server, "kr-local-meeting-service");
            if (!reply.contentType.empty()) {
                response.set(http::field::content_type, reply.contentType);
            }
            for (const auto& [name, value] : reply.headers) {
                response.insert(name, value);
            }
            if (reply.gzip) {
                response.set(http::field::content_encoding, "gzip");
                response.body() = gzipCompress(reply.body);
            } else {
                response.body() = std::move(reply.body);
            }
            response.keep_alive(keepAlive);
            response.prepare_payload();
            co_await http::async_write(stream, response, asio::use_awaitable);
            if (!keepAlive) {
                beast::error_code ignored;
                beast::get_lowest_layer(stream).socket().shutdown(tcp::socket::shutdown_both,
                                                                  ignored);
                co_return;
            }
        }
    }

    // Headers, then the reply's chunk at its pace until its count is reached or, for an endless
    // stream, the client goes away (a failed write ends the coroutine). The connection closes
    // afterwards, so a test never shares it with the next request.
    asio::awaitable<void> writeStreamed(beast::ssl_stream<beast::tcp_stream>& tls,
                                        const ServerReply& reply, unsigned version) {
        http::response<http::empty_body> head{static_cast<http::status>(reply.status), version};
        head.set(http::field::server, "kr-local-meeting-service");
        if (!reply.contentType.empty()) {
            head.set(http::field::content_type, reply.contentType);
        }
        head.chunked(true);
        head.keep_alive(false);
        http::response_serializer<http::empty_body> serializer{head};
        co_await http::async_write_header(tls, serializer, asio::use_awaitable);
        for (std::size_t sent = 0; reply.chunkCount == 0 || sent < reply.chunkCount; ++sent) {
            if (reply.chunkInterval.count() > 0) {
                asio::steady_timer timer(io_, reply.chunkInterval);
                co_await timer.async_wait(asio::use_awaitable);
            }
            co_await asio::async_write(tls, http::make_chunk(asio::buffer(reply.chunk)),
                                       asio::use_awaitable);
        }
        co_await asio::async_write(tls, http::make_chunk_last(), asio::use_awaitable);
        beast::error_code ignored;
        beast::get_lowest_layer(tls).socket().shutdown(tcp::socket::shutdown_both, ignored);
    }

    void countHandshake(SSL* ssl, std::uint64_t connectionId) {
        const char* serverName = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        const bool resumed = SSL_session_reused(ssl) == 1;
        std::lock_guard lock(mutex_);
        HandshakeCount& count = handshakes_[serverName ? serverName : ""];
        ++count.total;
        if (resumed) {
            ++count.resumed;
        }
        // Records are in id order, from 1; the oldest may have been pushed out.
        const auto& kept = connectionRecords_.items();
        const std::size_t dropped = connectionRecords_.total() - kept.size();
        if (connectionId > dropped && connectionId - dropped <= kept.size()) {
            ConnectionRecord& record = connectionRecords_.at(connectionId - dropped - 1);
            record.handshakeDone = true;
            record.resumed = resumed;
            record.serverName = serverName ? serverName : "";
        }
    }

    void record(const RecordedRequest& request) {
        {
            std::lock_guard lock(mutex_);
            requests_.add(request);
        }
        changed_.notify_all();
    }

    std::shared_ptr<LocalWebSocketEndpoint> webSocketEndpoint(const std::string& path) {
        std::lock_guard lock(mutex_);
        const auto it = webSockets_.find(path);
        return it == webSockets_.end() ? nullptr : it->second;
    }

    ServerReply dispatch(const RecordedRequest& request) {
        std::shared_ptr<Handler> handler;
        {
            std::lock_guard lock(mutex_);
            for (const auto& route : routes_) {
                if ((route.method == "*" || route.method == request.method) &&
                    route.path == request.path) {
                    handler = route.handler;
                    break;
                }
            }
        }
        if (!handler) {
            return ServerReply::json(404, R"({"message":"NOT_FOUND","errors":"No such route"})");
        }
        return (*handler)(request);
    }

    TestCertificateAuthority authority_;
    asio::ssl::context ssl_;
    asio::io_context io_;
    tcp::acceptor acceptor_ = listenOnLoopback(io_);
    const std::uint16_t port_ = acceptor_.local_endpoint().port();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Route> routes_;
    std::map<std::string, std::shared_ptr<LocalWebSocketEndpoint>> webSockets_;
    BoundedRecord<RecordedRequest> requests_{kMaxRecordedRequests};
    std::map<std::string, HandshakeCount> handshakes_;
    BoundedRecord<ConnectionRecord> connectionRecords_{kMaxRecordedConnections};
    ServerThread thread_{io_};  // last: it ends before the members above go
};

std::vector<std::string> LocalHttpsServer::defaultHostNames() {
    return {"localhost", "*.kivrane.com", "kivrane.com", "*.kivrane.test"};
}

LocalHttpsServer::LocalHttpsServer(std::vector<std::string> hostNames)
    : impl_(std::make_unique<Impl>(std::move(hostNames))) {}

LocalHttpsServer::~LocalHttpsServer() = default;

std::uint16_t LocalHttpsServer::port() const {
    return impl_->port_;
}

const std::string& LocalHttpsServer::caFile() const {
    return impl_->authority_.caFile();
}

void LocalHttpsServer::route(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex_);
    impl_->routes_.push_back(
        Route{std::move(method), std::move(path), std::make_shared<Handler>(std::move(handler))});
}

void LocalHttpsServer::route(std::string method, std::string path, ServerReply reply) {
    route(std::move(method), std::move(path),
          [reply = std::move(reply)](const RecordedRequest&) { return reply; });
}

void LocalHttpsServer::serveWebSocket(std::string path,
                                      std::shared_ptr<LocalWebSocketEndpoint> endpoint) {
    std::lock_guard lock(impl_->mutex_);
    impl_->webSockets_[std::move(path)] = std::move(endpoint);
}

std::vector<RecordedRequest> LocalHttpsServer::requests() const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->requests_.copy();
}

std::size_t LocalHttpsServer::requestCount() const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->requests_.total();
}

bool LocalHttpsServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex_);
    return impl_->changed_.wait_for(lock, timeout,
                                    [&] { return impl_->requests_.total() >= count; });
}

std::uint64_t LocalHttpsServer::connectionCount() const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->connectionRecords_.total();
}

std::vector<LocalHttpsServer::ConnectionRecord> LocalHttpsServer::connections() const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->connectionRecords_.copy();
}

std::map<std::string, LocalHttpsServer::HandshakeCount> LocalHttpsServer::tlsHandshakesByServerName()
    const {
    std::lock_guard lock(impl_->mutex_);
    return impl_->handshakes_;
}

std::uint64_t LocalHttpsServer::tlsHandshakeCount() const {
    std::lock_guard lock(impl_->mutex_);
    std::uint64_t total = 0;
    for (const auto& [name, count] : impl_->handshakes_) {
        total += count.total;
    }
    return total;
}

platform::HttpRouting LocalHttpsServer::routing() const {
    platform::HttpRouting routing;
    routing.connectTo = {"::127.0.0.1:" + std::to_string(impl_->port_)};
    routing.caFile = impl_->authority_.caFile();
    return routing;
}

}  // namespace kr::test
