#pragma once

#include <string>
#include <utility>

namespace kr {

/// A failed meeting operation the host app asked for, with the server's message.
struct KRMeetingError {
    enum class Kind { recordingStartFailed, recordingStopFailed };
    Kind kind = Kind::recordingStartFailed;
    std::string message;

    static KRMeetingError recordingStartFailed(std::string message) {
        return {Kind::recordingStartFailed, std::move(message)};
    }
    static KRMeetingError recordingStopFailed(std::string message) {
        return {Kind::recordingStopFailed, std::move(message)};
    }
    friend bool operator==(const KRMeetingError&, const KRMeetingError&) = default;
};

}  // namespace kr
