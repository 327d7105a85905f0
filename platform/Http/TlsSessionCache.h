#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

// OpenSSL's session type, kept out of this header's includers.
struct ssl_session_st;

namespace kr::platform {

/// The latest resumable TLS session per server name, shared by the HTTPS and WSS transports of
/// one client so that a connection to a host the other transport already reached resumes its
/// session (one round trip without a certificate exchange) instead of a full handshake.
///
/// A session is only ever handed out for the exact host name it was stored under, so it is never
/// offered to another host; both transports store only sessions of connections whose certificate
/// and host name they verified, which a resumption does not check again. Sessions are used
/// without early data, so offering one more than once replays nothing; a server that no longer
/// accepts it simply runs a full handshake.
///
/// Threading: every method may be called from any thread (the transports' I/O threads).
class TlsSessionCache {
public:
    TlsSessionCache() = default;
    ~TlsSessionCache();
    TlsSessionCache(const TlsSessionCache&) = delete;
    TlsSessionCache& operator=(const TlsSessionCache&) = delete;

    /// Keeps `session` (a reference of its own) as the latest one for `host`. Ignored for an empty
    /// host, a null session or one that cannot be resumed.
    void store(std::string_view host, ssl_session_st* session);
    /// A new reference to the latest session for `host` (the caller frees it), or null.
    ssl_session_st* find(std::string_view host) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, ssl_session_st*, std::less<>> sessions_;
};

}  // namespace kr::platform
