#include "testing/LocalMeetingService/MeetingRoomSetup.h"

#include <random>

namespace kr::test {

std::optional<MeetingRoomSetup> MeetingRoomSetup::fromArgument(std::string_view argument) {
    const auto first = argument.find(':');
    if (first == std::string_view::npos || first == 0) {
        return std::nullopt;
    }
    MeetingRoomSetup setup;
    setup.meetingId = std::string(argument.substr(0, first));
    const auto second = argument.find(':', first + 1);
    setup.pin = std::string(argument.substr(first + 1, second - first - 1));
    setup.roomId = second == std::string_view::npos ? "room-" + setup.meetingId
                                                    : std::string(argument.substr(second + 1));
    setup.chatThreadId = "thread-" + setup.meetingId;
    std::random_device entropy;
    std::uniform_int_distribution<unsigned> digit(0, 15);
    setup.hostToken = "host-";
    for (int i = 0; i < 24; ++i) {
        setup.hostToken += "0123456789abcdef"[digit(entropy)];
    }
    return setup;
}

}  // namespace kr::test
