#pragma once

namespace kr {

/// Why the facade reloaded the meeting's data from the server.
enum class KRMeetingDataRefreshReason {
    polling,         ///< a tick of the room status poll
    joinProcess,     ///< the join's first status fetch
    serverRequest,   ///< the room event socket asked for a refresh
    unknownStream,   ///< the engine reported a stream the store did not know
};

}  // namespace kr
