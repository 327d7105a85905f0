#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <cstdint>

namespace kr::test {

/// Takes over an HTTPS connection of the local server whose request asks for a WebSocket
/// upgrade on the endpoint's path. The endpoint answers the upgrade (or refuses it) and owns the
/// connection from then on; it runs on the server's I/O thread.
class LocalWebSocketEndpoint {
public:
    using Stream = boost::beast::ssl_stream<boost::beast::tcp_stream>;
    using Request = boost::beast::http::request<boost::beast::http::string_body>;

    virtual ~LocalWebSocketEndpoint() = default;

    virtual boost::asio::awaitable<void> serve(Stream stream, Request request,
                                               std::uint64_t connectionId) = 0;
};

}  // namespace kr::test
