#pragma once

#include <string>
#include <utility>

namespace kr {

/// What the host app joins: meeting id, PIN and the local user's display name. The strings are
/// kept exactly as given. Immutable value.
class KRJoinMeetingData {
public:
    KRJoinMeetingData(std::string meetingId, std::string meetingPin, std::string displayName)
        : meetingId_(std::move(meetingId)),
          meetingPin_(std::move(meetingPin)),
          displayName_(std::move(displayName)) {}

    const std::string& meetingId() const noexcept { return meetingId_; }
    const std::string& meetingPin() const noexcept { return meetingPin_; }
    const std::string& displayName() const noexcept { return displayName_; }

private:
    std::string meetingId_;
    std::string meetingPin_;
    std::string displayName_;
};

}  // namespace kr
