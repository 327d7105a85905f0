#pragma once

#include <memory>

#include "platform/Http/HttpTransport.h"
#include "platform/WebSocket/WebSocketTransport.h"

namespace kr::platform {

/// WebSocket over TLS on Boost.Beast, one I/O thread for the connections it has open. Certificate
/// and host-name verification are always on; `routing` redirects connections the same way the
/// HTTPS transport does ("host:port:address:port" entries, an empty field matching anything) and
/// may replace the trusted authorities with a PEM file. permessage-deflate is never offered.
///
/// The I/O thread ends when every connection it serves is gone, and the next connection starts
/// another; the TLS set-up (the trusted authorities) is made once, with the transport. Letting
/// the last connection go returns at once: the closing handshakes still under way finish on the I/O thread,
/// each within `WebSocketConnection::kCloseBound` (all cut short at twice that), and the thread
/// is joined in the background; the process's exit waits for those still under way, within the
/// same bound.
std::shared_ptr<WebSocketTransport> makeTlsWebSocketTransport(HttpRouting routing = {});

}  // namespace kr::platform
