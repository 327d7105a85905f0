#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Common/Result.h"
#include "platform/Dispatch/DispatchQueue.h"

namespace kr::platform {

class TlsSessionCache;

/// One header field. Lists of them keep their order on the wire.
struct HttpHeader {
    std::string name;
    std::string value;
    friend bool operator==(const HttpHeader&, const HttpHeader&) = default;
};
using HttpHeaders = std::vector<HttpHeader>;

/// First value of `name` in `headers`, compared case-insensitively.
std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name);

/// One HTTPS exchange to perform.
struct HttpRequest {
    std::string method = "GET";
    std::string url;                  ///< absolute "https://" URL, sent exactly as given
    HttpHeaders headers;              ///< sent after the transport's session headers, in this order
    std::optional<std::string> body;  ///< sent as is; std::nullopt sends no body at all
    /// Bounds the whole exchange, from `send` to the completion: waiting for connectivity,
    /// connecting, sending and receiving, however steadily bytes keep arriving. Fails with
    /// `timedOut`. Unset: the transport's `totalTimeout` bounds it instead.
    std::optional<std::chrono::milliseconds> timeout;
};

/// The final HTTP response of an exchange (after redirects).
struct HttpResponse {
    long status = 0;
    HttpHeaders headers;  ///< as received, in order
    std::string body;     ///< already decompressed when the transport accepts compressed replies
};

/// Why an exchange produced no HTTP response.
enum class HttpErrorCode {
    cancelled,  ///< the transport was destroyed while the transfer was in flight
    timedOut,   ///< the request's time-out or the transport's overall deadline passed
    cannotResolveHost,
    cannotConnect,
    secureConnectionFailed,  ///< TLS handshake, certificate or host-name verification failed
    connectionLost,          ///< the peer closed or reset the connection mid-exchange; a
                             ///< request that may have reached the server is not sent again
    tooManyRedirects,        ///< also a redirect to anything but https
    invalidRequest,          ///< refused before sending (bad URL, unsafe header value)
    replyTooLarge,           ///< the reply grew past the transport's `maxReplyBytes`
    other,
};

/// A transport failure: a code to branch on and a diagnostic text.
struct HttpError {
    HttpErrorCode code = HttpErrorCode::other;
    std::string message;
};

using HttpResult = kr::Result<HttpResponse, HttpError>;
using HttpCompletion = std::function<void(HttpResult)>;

/// Where transfers connect and whom they trust. Production leaves it empty; tests point the
/// service's host names at a loopback server and trust its throw-away certificate authority.
struct HttpRouting {
    /// curl "connect-to" entries, e.g. "api.example.test:443:127.0.0.1:40123".
    std::vector<std::string> connectTo;
    /// PEM file of extra trusted certificate authorities (replaces the system bundle when set).
    std::string caFile;
    /// Caps every request's time-out, so time-out and offline paths can be tested quickly.
    std::optional<std::chrono::milliseconds> maxTimeout;
    /// TLS sessions shared between the transports given this routing: the HTTPS transport keeps
    /// there the session of each connection it opens, and the WSS transport resumes the latest
    /// one of its host instead of a full handshake. Empty: nothing is shared.
    std::shared_ptr<TlsSessionCache> tlsSessions{};  // initialised: brace-built routings may omit it
    friend bool operator==(const HttpRouting&, const HttpRouting&) = default;
};

/// How one transport behaves for every request it sends.
struct HttpTransportSettings {
    /// Sent with every request, before the request's own headers (e.g. "User-Agent", "Connection").
    HttpHeaders sessionHeaders;
    /// When non-empty, sent as "Accept-Encoding" and replies in any of these codings are decoded
    /// transparently. Empty: no "Accept-Encoding" header and no decoding.
    std::string acceptEncoding = "gzip, deflate, br";
    /// Persistent connections kept and opened at most per host.
    long maxConnectionsPerHost = 15;
    /// Where this transport's transfers connect and which authorities they trust.
    HttpRouting routing;
    /// A reply whose (decoded) body, or whose header lines, would grow past this many bytes fails
    /// with `replyTooLarge`, so a broken or hostile server cannot make the process buffer without
    /// end.
    std::size_t maxReplyBytes = std::size_t{16} * 1024 * 1024;
    /// Bounds the whole exchange of a request that sets no time-out of its own, as the request's
    /// time-out would. Fails with `timedOut`.
    std::chrono::milliseconds totalTimeout{std::chrono::minutes(5)};
    friend bool operator==(const HttpTransportSettings&, const HttpTransportSettings&) = default;
};

/// An HTTPS client on libcurl's multi interface, run by one I/O thread per transport, which
/// starts with the first transfer sent.
///
/// Every request is HTTP/1.1 over TLS with certificate and host-name verification always on,
/// follows redirects only to https, and reuses persistent connections. When a reused connection
/// dies before any reply arrives, a GET, HEAD or OPTIONS request is sent once more on a new
/// connection; any other request may already have reached the server and fails with
/// `connectionLost` instead, leaving the decision to the caller. Each transfer that was
/// accepted by `send` completes exactly once: its completion is posted to the given queue when the
/// transfer ends, in the order transfers end. Destroying the transport cancels the transfers in
/// flight; each of them then completes with `HttpErrorCode::cancelled` on its queue.
///
/// Threading: `send` may be called from any thread. The completion never runs on the I/O thread;
/// the transport does not touch the completion's captures except to move and run it.
class HttpTransport {
public:
    static std::shared_ptr<HttpTransport> create(HttpTransportSettings settings = {});
    ~HttpTransport();

    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    /// Starts a transfer. A request refused before sending (not an https URL, a header name or
    /// value with CR, LF or NUL) fails here and its completion is never called; otherwise the
    /// completion is called exactly once, on `queue`.
    [[nodiscard]] kr::Result<kr::Unit, HttpError> send(HttpRequest request,
                                                       std::shared_ptr<DispatchQueue> queue,
                                                       HttpCompletion completion);

    /// Tells the transport whether the network is reachable; it starts out reachable. While it
    /// is not, a new transfer is held back instead of failing: it starts once the network is
    /// back, or fails with `timedOut` once its time-out has passed. Any thread: a transfer sent
    /// after this call returns sees the new value.
    void setConnected(bool connected);

    /// What the transport was made with.
    const HttpTransportSettings& settings() const;

    /// Transfer handles kept for reuse between transfers: never more than `kMaxIdleHandles`;
    /// a handle freed beyond that is destroyed. For diagnostics; may be read from any thread.
    std::size_t idleHandleCount() const;
    /// A burst of transfers leaves at most this many handles (and their buffers) behind.
    static constexpr std::size_t kMaxIdleHandles = 4;

    /// False for values that could split or truncate a header line (CR, LF or NUL).
    static bool isSafeHeaderValue(std::string_view value);

private:
    class Impl;
    explicit HttpTransport(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kr::platform
