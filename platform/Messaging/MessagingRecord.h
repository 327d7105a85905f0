#pragma once

#include <string>

namespace kr::platform {

/// One message a client tried to send, as the service's log keeps it: to a peer (`to` is the
/// peer's user id) or to a channel (`to` is the channel id), with the code the sender got.
struct MessagingRecord {
    enum class Route { peer, channel };

    Route route = Route::peer;
    std::string from;
    std::string to;
    std::string text;
    int code = 0;

    friend bool operator==(const MessagingRecord&, const MessagingRecord&) = default;
};

}  // namespace kr::platform
