#pragma once

#include <string>
#include <vector>

#include "testing/LocalMeetingService/MeetingRoomState.h"

namespace kr::test {

/// The room socket frames a change of one room causes, in this order: departures (a connected
/// participant gone or disconnected: refresh/leave with its user id), one participant update
/// (every connected participant, when any of them joined or changed), a refresh when the mute
/// state changed (carrying the mute action), and recording started or stopped.
std::vector<std::string> roomChangeFrames(const MeetingRoomState& before,
                                          const MeetingRoomState& after);

}  // namespace kr::test
