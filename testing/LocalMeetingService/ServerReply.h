#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kr::test {

/// What a route of the local HTTPS server answers.
struct ServerReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  ///< extra headers
    std::string body;
    std::string contentType = "application/json";  ///< empty: no "Content-Type"
    std::chrono::milliseconds delay{0};  ///< wait this long before answering (or dropping)
    bool dropConnection = false;         ///< close the connection instead of answering
    bool gzip = false;                   ///< send the body gzip-encoded
    /// When set, the request is handled only after `delay`: this gives the reply then written.
    std::function<ServerReply()> handleLate;
    /// A chunked reply written piece by piece instead of `body`: `chunk` every `chunkInterval`
    /// (zero: as fast as the connection takes it), `chunkCount` times, or without end when 0.
    bool streamed = false;
    std::string chunk;
    std::chrono::milliseconds chunkInterval{0};
    std::size_t chunkCount = 0;

    static ServerReply json(int status, std::string body) {
        ServerReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static ServerReply stream(std::string chunk, std::chrono::milliseconds interval,
                              std::size_t count = 0) {
        ServerReply reply;
        reply.streamed = true;
        reply.chunk = std::move(chunk);
        reply.chunkInterval = interval;
        reply.chunkCount = count;
        return reply;
    }
    static ServerReply dropped() {
        ServerReply reply;
        reply.dropConnection = true;
        return reply;
    }
};

}  // namespace kr::test
