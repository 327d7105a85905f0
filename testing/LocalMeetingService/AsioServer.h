#pragma once

// What the local servers built on Asio share. Their sources include it ahead of the code that
// instantiates Asio's templates, where the warnings silenced below arise.

// Asio's scheduler trips GCC's flow-based null-dereference check once inlined.
#pragma GCC diagnostic ignored "-Wnull-dereference"
// Asio issues a standalone fence, which ThreadSanitizer cannot model; this is test code only.
#if defined(__GNUC__) && !defined(__clang__)  // a GCC-only warning
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <thread>

namespace kr::test {

/// A socket listening on 127.0.0.1 at a port the system picks, so that servers of tests running
/// side by side never compete for one. Its port is `local_endpoint().port()`.
boost::asio::ip::tcp::acceptor listenOnLoopback(boost::asio::io_context& io);

/// Runs `io` on a thread of its own from construction on, idle or not; destroying it stops `io`
/// and waits for the thread. A server keeps it as its last member, so the thread has ended before
/// anything its handlers use goes.
class ServerThread {
public:
    explicit ServerThread(boost::asio::io_context& io);
    ~ServerThread();
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

private:
    boost::asio::io_context& io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    std::thread thread_;
};

}  // namespace kr::test
