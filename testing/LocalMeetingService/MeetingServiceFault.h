#pragma once

#include <chrono>
#include <string>
#include <utility>

namespace kr::test {

/// A fault the local meeting service injects into the requests of one route, instead of (or, for a
/// delay, before) its normal answer. A faulted request changes no state, except a delayed one or
/// one handled late.
/// A plain value.
struct MeetingServiceFault {
    enum class Kind {
        status,          ///< answer `status` with `body` (an error body when `body` is empty)
        malformedJson,   ///< answer 200 with a body that is not JSON
        dropConnection,  ///< close the connection without answering
        delay,           ///< answer normally after `delay`
        handledLate,     ///< handle the request only after `delay`, then answer it: requests
                         ///< that arrive meanwhile on other connections are handled first
    };

    Kind kind = Kind::status;
    int status = 500;
    std::string body;
    std::chrono::milliseconds delay{0};
    /// How many requests the fault hits; negative: every request until the faults are cleared.
    int remaining = -1;
    /// When set, the fault hits only requests whose body names this "participantId".
    std::string participantId;

    static MeetingServiceFault withStatus(int status, std::string body = {}) {
        MeetingServiceFault fault;
        fault.status = status;
        fault.body = std::move(body);
        return fault;
    }
    static MeetingServiceFault malformedJson() { return of(Kind::malformedJson); }
    static MeetingServiceFault dropConnection() { return of(Kind::dropConnection); }
    static MeetingServiceFault delayed(std::chrono::milliseconds by) {
        MeetingServiceFault fault = of(Kind::delay);
        fault.delay = by;
        return fault;
    }
    static MeetingServiceFault handledLate(std::chrono::milliseconds by) {
        MeetingServiceFault fault = of(Kind::handledLate);
        fault.delay = by;
        return fault;
    }
    /// The same fault for the next `count` requests only.
    MeetingServiceFault times(int count) const {
        MeetingServiceFault fault = *this;
        fault.remaining = count;
        return fault;
    }

    /// The same fault for the requests of one participant only.
    MeetingServiceFault forParticipant(std::string participant) const {
        MeetingServiceFault fault = *this;
        fault.participantId = std::move(participant);
        return fault;
    }

private:
    static MeetingServiceFault of(Kind kind) {
        MeetingServiceFault fault;
        fault.kind = kind;
        return fault;
    }
};

}  // namespace kr::test
