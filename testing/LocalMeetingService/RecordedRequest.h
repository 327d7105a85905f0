#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kr::test {

/// One request as the local HTTPS server received it, exactly as on the wire (path and query
/// keep their percent-encoding).
struct RecordedRequest {
    std::string method;
    unsigned version = 11;  ///< HTTP version as 10 * major + minor
    std::string target;     ///< path and query
    std::string path;
    std::string query;  ///< text after "?", empty when there is none
    bool hasQuery = false;
    std::vector<std::pair<std::string, std::string>> headers;  ///< in wire order
    std::string body;
    std::uint64_t connectionId = 0;  ///< which accepted connection carried it (1, 2, ...)
    std::chrono::steady_clock::time_point receivedAt;  ///< when the server had read it whole

    /// First value of `name`, compared case-insensitively.
    std::optional<std::string> header(std::string_view name) const;
    /// Number of header fields named `name` (case-insensitive).
    std::size_t headerCount(std::string_view name) const;
};

}  // namespace kr::test
