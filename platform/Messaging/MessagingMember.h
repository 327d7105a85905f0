#pragma once

#include <string>

namespace kr::platform {

/// The sender of a channel message: its user id and the channel it sent on.
struct MessagingMember {
    std::string userId;
    std::string channelId;

    friend bool operator==(const MessagingMember&, const MessagingMember&) = default;
};

}  // namespace kr::platform
