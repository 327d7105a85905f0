#pragma once

#include <string>

namespace kr::platform {

/// One text message of the messaging service, sent and received unchanged.
struct MessagingMessage {
    std::string text;

    friend bool operator==(const MessagingMessage&, const MessagingMessage&) = default;
};

}  // namespace kr::platform
