#pragma once

#include <string>

#include "platform/Messaging/MessagingOperation.h"

namespace kr::platform {

/// One call received by a messaging client or one of its channels: the operation and its
/// arguments as text, comma separated (channel calls start with the channel id).
struct MessagingCall {
    MessagingOperation operation;
    std::string arguments;

    /// "name(arguments)", e.g. "loginByToken(token, 42)".
    std::string text() const {
        return std::string(messagingOperationName(operation)) + "(" + arguments + ")";
    }
};

}  // namespace kr::platform
