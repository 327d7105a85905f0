#include "testing/LocalMeetingService/AsioServer.h"

namespace kr::test {

boost::asio::ip::tcp::acceptor listenOnLoopback(boost::asio::io_context& io) {
    using tcp = boost::asio::ip::tcp;
    tcp::acceptor acceptor(io);
    acceptor.open(tcp::v4());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    acceptor.listen();
    return acceptor;
}

ServerThread::ServerThread(boost::asio::io_context& io)
    : io_(io), work_(boost::asio::make_work_guard(io)), thread_([&io] { io.run(); }) {}

ServerThread::~ServerThread() {
    io_.stop();
    thread_.join();
}

}  // namespace kr::test
