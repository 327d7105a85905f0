#pragma once

#include <any>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
                       ///< the reason), a lost TCP connection (1006), or the connection closed
                       ///< itself because a message exceeded `maxMessageSize` (1009); nothing
                       ///< follows
        error,         ///< the attempt or the connection failed (`payload` says why); nothing
                       ///< follows
    };

    Kind kind = Kind::error;
    std::string payload;
    std::uint16_t closeCode = 0;
    /// For a text message: what the request's `acknowledge` kept of its reading of `payload`, so
    /// that the receiver need not read it again. Empty otherwise.
    std::any prepared;
};

/// What `WebSocketRequest::acknowledge` makes of a text message.
struct WebSocketAcknowledgement {
    WebSocketAcknowledgement(std::string replyBytes, std::any preparedText = {})  // NOLINT
        : reply(std::move(replyBytes)), prepared(std::move(preparedText)) {}

    std::string reply;  ///< written back as one binary message
    std::any prepared;  ///< handed on with the message (`WebSocketEvent::prepared`)
};

/// What to connect to.
struct WebSocketRequest {
    std::string url;  ///< "wss://host[:port]/path"
    /// Bound on the whole opening (TCP, TLS and WebSocket handshakes).
    std::chrono::milliseconds timeout{std::chrono::seconds(20)};
    /// A larger incoming message is discarded and the connection closed with 1009.
    std::size_t maxMessageSize = std::size_t{16} * 1024 * 1024;
    /// Called on the I/O thread with each text message as it arrives; the reply it returns is
    /// written back as one binary message before the text is delivered (with what it prepared),
    /// and a text whose answer could not be written is not delivered. Must not touch state of
    /// other threads.
    std::function<std::optional<WebSocketAcknowledgement>(std::string_view text)> acknowledge;
};

/// One client connection. Made idle; `connect()` starts it. Pings are answered with pongs by the
/// connection itself.
///
/// Flow control: the connection stops reading while `kMaxUndeliveredMessages` messages (or
/// `kMaxUndeliveredBytes`) wait for the queue, and goes on once the queue has taken half of them.
/// Writes waiting for the peer are capped at `kMaxQueuedWrites`; beyond that the connection is
/// dropped (1006), since a peer that takes nothing is of no use.
///
/// Threading: methods may be called from any thread; events run on the connection's queue.
/// Once `disconnect()` has returned on that queue, no further event of this connection runs.
/// Dropping the last reference disconnects as well.
class WebSocketConnection {
public:
    using EventHandler = std::function<void(const WebSocketEvent&)>;

    static constexpr std::size_t kMaxUndeliveredMessages = 512;
    static constexpr std::size_t kMaxUndeliveredBytes = std::size_t{32} * 1024 * 1024;
    static constexpr std::size_t kMaxQueuedWrites = 256;
    /// How long the closing handshake may take when a connection is disconnected or dropped.
    static constexpr std::chrono::milliseconds kCloseBound{1000};

    virtual ~WebSocketConnection() = default;

    virtual void connect() = 0;
    /// Sends `bytes` as one binary message once connected; dropped before that or after the end.
    virtual void write(std::string bytes) = 0;
    /// Closes with `closeCode` (or abandons an attempt in progress) and stops the events. The
    /// closing handshake still runs, within `kCloseBound`, even when the transport goes away.
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
