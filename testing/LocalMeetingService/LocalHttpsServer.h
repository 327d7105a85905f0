#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/RecordedRequest.h"
#include "testing/LocalMeetingService/ServerReply.h"

namespace kr::test {

class LocalWebSocketEndpoint;

/// A real HTTPS/1.1 server on 127.0.0.1 (an ephemeral port) for tests, with its own throw-away
/// certificate authority. Routes are generic: method + path -> handler; the first route added
/// for a (method, path) pair wins, "*" matches any method, and requests without a route get 404.
/// Every request received is recorded (method, path, query, headers, body), before its handler
/// runs; the most recent `kMaxRecordedRequests` are kept. Connections are kept alive as the client
/// asks.
///
/// `routing()` is what a transport needs to reach this server: every host and port connects to
/// 127.0.0.1:port, and the test CA is trusted. Handed to a transport (or to the library through its
/// dependencies), it lets the library keep building its real URLs while no test reaches anything
/// but loopback, and nothing process-wide changes.
///
/// Threading: one I/O thread serves every connection; handlers run on it, one at a time. Every
/// public method may be called from any thread.
class LocalHttpsServer {
public:
    using Handler = std::function<ServerReply(const RecordedRequest&)>;

    /// Host names the server certificate is valid for besides 127.0.0.1.
    static std::vector<std::string> defaultHostNames();

    explicit LocalHttpsServer(std::vector<std::string> hostNames = defaultHostNames());
    ~LocalHttpsServer();
    LocalHttpsServer(const LocalHttpsServer&) = delete;
    LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;

    std::uint16_t port() const;
    /// PEM file of the test CA.
    const std::string& caFile() const;

    void route(std::string method, std::string path, Handler handler);
    /// A route that always answers `reply`.
    void route(std::string method, std::string path, ServerReply reply);

    /// Hands WebSocket upgrade requests for `path` to `endpoint` (recorded like other requests).
    void serveWebSocket(std::string path, std::shared_ptr<LocalWebSocketEndpoint> endpoint);

    /// Requests the record keeps, at most this many; older ones give way to newer ones.
    static constexpr std::size_t kMaxRecordedRequests = 2048;

    /// The most recent requests received, in arrival order.
    std::vector<RecordedRequest> requests() const;
    /// Every request received so far, kept in the record or not.
    std::size_t requestCount() const;
    /// Waits until at least `count` requests were received; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    /// Number of TCP connections accepted so far.
    std::uint64_t connectionCount() const;

    /// One accepted connection and its TLS handshake.
    struct ConnectionRecord {
        std::uint64_t id = 0;  ///< as in `RecordedRequest::connectionId`
        std::chrono::steady_clock::time_point acceptedAt;
        bool handshakeDone = false;
        bool resumed = false;    ///< the handshake resumed an earlier session
        std::string serverName;  ///< what the client asked for (SNI); "" when it sent none
    };
    static constexpr std::size_t kMaxRecordedConnections = 2048;
    /// The connections accepted so far, in order; the most recent `kMaxRecordedConnections`.
    std::vector<ConnectionRecord> connections() const;

    /// TLS handshakes completed so far, per server name the client asked for (SNI; "" when it
    /// sent none). Resumed sessions count too: each is a handshake the client waited for.
    struct HandshakeCount {
        std::uint64_t total = 0;
        std::uint64_t resumed = 0;  ///< of `total`, those that resumed an earlier session
    };
    std::map<std::string, HandshakeCount> tlsHandshakesByServerName() const;
    /// Every completed TLS handshake, whatever the server name.
    std::uint64_t tlsHandshakeCount() const;

    /// Routing that sends a transport's requests to this server and trusts its CA.
    platform::HttpRouting routing() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kr::test
