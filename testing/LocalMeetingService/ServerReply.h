#pragma once

#include <chrono>
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

    static ServerReply json(int status, std::string body) {
        ServerReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static ServerReply dropped() {
        ServerReply reply;
        reply.dropConnection = true;
        return reply;
    }
};

}  // namespace kr::test
