#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

namespace kr::test {

class LocalHttpsServer;

/// Stands in for the remote log index on the local HTTPS server: accepts NDJSON uploads (pairs
/// of lines, index then record) at one path and keeps them for the test to inspect.
///
/// Threading: pushes are handled on the server's thread; the accessors may be called from any
/// thread. The route shares the sink's state, so either may go first.
class LogIndexSink {
public:
    /// One record of a push with the index its action line named.
    struct Entry {
        std::string index;          ///< "_index" of the action line; the raw line if it is no JSON
        std::string actionLine;     ///< exactly as received
        std::string recordText;     ///< exactly as received
        boost::json::value record;  ///< parsed record; null if it is no JSON
    };

    /// One POST received.
    struct Push {
        std::string body;
        std::string authorization;  ///< the "Authorization" header, empty when absent
        std::string contentType;
    };

    LogIndexSink(LocalHttpsServer& server, std::string path = "/_bulk");
    ~LogIndexSink();

    /// Status code answered to later pushes (200 by default).
    void setStatus(int status);
    /// Later pushes are answered by dropping the connection (no HTTP response at all).
    void setDropConnection(bool drop);

    std::vector<Entry> entries() const;
    std::vector<Push> pushes() const;
    std::size_t pushCount() const;
    bool waitForPushes(std::size_t count, std::chrono::milliseconds timeout) const;

    /// Splits an NDJSON bulk body into its entries (exposed for tests of the sink itself).
    static std::vector<Entry> parseBody(const std::string& body);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace kr::test
