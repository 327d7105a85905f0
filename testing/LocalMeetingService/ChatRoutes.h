#pragma once

#include <string_view>
#include <vector>

#include "testing/LocalMeetingService/MeetingServiceRoute.h"

namespace kr::test {

/// The chat endpoints whose paths carry no thread id (main thread, private thread).
std::vector<MeetingServiceEndpoint> chatFixedEndpoints();

/// The endpoints of one chat thread (history, send, read marks, members); the id is
/// percent-encoded as one path segment, as the client sends it.
std::vector<MeetingServiceEndpoint> chatThreadEndpoints(std::string_view threadId);

}  // namespace kr::test
