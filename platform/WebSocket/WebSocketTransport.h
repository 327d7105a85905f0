#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Dispatch/DispatchQueue.h"

namespace kr::platform {

/// What a WebSocket connection reports. Every event is delivered on the queue the connection
/// was made for, in the order it happened.
struct WebSocketEvent {
    enum class Kind {
        connected,     ///< the opening handshake succeeded
        text,          ///< a text message arrived (`payload`)
        binary,        ///< a binary message arrived (`payload`)
        disconnected,  ///< an open connection ended: a close frame (`closeCode`, `payload` as
                       ///< the reason) or a lost TCP connection (1006); nothing follows
        error,         ///< the attempt or the connection failed (`payload` says why); nothing
                       ///< follows
    };

    Kind kind = Kind::error;
    std::string payload;
    std::uint16_t closeCode = 0;
};

/// What to connect to.
struct WebSocketRequest {
    std::string url;  ///< "wss://host[:port]/path"
    /// Bound on the whole opening (TCP, TLS and WebSocket handshakes).
    std::chrono::milliseconds timeout{std::chrono::seconds(20)};
};

/// One client connection. Made idle; `connect()` starts it. Pings are answered with pongs by the
/// connection itself.
///
/// Threading: methods may be called from any thread; events run on the connection's queue.
/// Once `disconnect()` has returned on that queue, no further event of this connection runs.
/// Dropping the last reference disconnects as well.
class WebSocketConnection {
public:
    using EventHandler = std::function<void(const WebSocketEvent&)>;

    virtual ~WebSocketConnection() = default;

    virtual void connect() = 0;
    /// Sends `bytes` as one binary message once connected; dropped before that or after the end.
    virtual void write(std::string bytes) = 0;
    /// Closes with `closeCode` (or abandons an attempt in progress) and stops the events.
    virtual void disconnect(std::uint16_t closeCode) = 0;
};

/// Makes WebSocket connections. Production uses `makeTlsWebSocketTransport`; unit tests hand a
/// fake to the code under test.
class WebSocketTransport {
public:
    virtual ~WebSocketTransport() = default;

    virtual std::shared_ptr<WebSocketConnection> makeConnection(
        WebSocketRequest request, std::shared_ptr<DispatchQueue> queue,
        WebSocketConnection::EventHandler handler) = 0;
};

}  // namespace kr::platform
