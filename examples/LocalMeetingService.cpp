// Runs the local meeting service as a process of its own, for the example host: an HTTPS server on
// 127.0.0.1 (an ephemeral port) with a fresh test CA and the rooms given on the command line.
//
//   kr_example_LocalMeetingService [--room MEETING_ID:PIN[:ROOM_ID]]... [--seconds N]
//
// Prints one JSON line with the port, the CA file to trust and the rooms (each with a random host
// token of its own), then serves until SIGINT or SIGTERM, or for N seconds. A client reaches it
// by connecting every host name to 127.0.0.1:port and trusting the CA file.

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace {

int usage(const char* program) {
    std::cerr << "usage: " << program << " [--room MEETING_ID:PIN[:ROOM_ID]]... [--seconds N]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<kr::test::MeetingRoomSetup> rooms;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--room" && i + 1 < argc) {
            auto setup = kr::test::MeetingRoomSetup::fromArgument(argv[++i]);
            if (!setup) {
                return usage(argv[0]);
            }
            rooms.push_back(std::move(*setup));
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::strtol(argv[++i], nullptr, 10);
            if (seconds <= 0) {
                return usage(argv[0]);
            }
        } else {
            return usage(argv[0]);
        }
    }

    // Block the stop signals before any thread starts, so that only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    kr::test::LocalMeetingService service(rooms.empty());
    for (const auto& setup : rooms) {
        service.addRoom(setup);
    }
    if (rooms.empty()) {
        rooms.push_back(kr::test::MeetingRoomSetup{});
    }

    boost::json::array roomList;
    for (const auto& setup : rooms) {
        roomList.push_back(boost::json::object{{"meetingId", setup.meetingId},
                                               {"pin", setup.pin},
                                               {"roomId", setup.roomId},
                                               {"hostToken", setup.hostToken}});
    }
    std::cout << boost::json::serialize(boost::json::object{
                     {"port", service.port()}, {"caFile", service.caFile()}, {"rooms", roomList}})
              << std::endl;

    if (seconds > 0) {
        const timespec limit{seconds, 0};
        sigtimedwait(&stopSignals, nullptr, &limit);
    } else {
        int received = 0;
        sigwait(&stopSignals, &received);
    }
    return 0;
}
