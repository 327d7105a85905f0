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

}  // namespace kr::test
