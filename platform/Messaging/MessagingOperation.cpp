#include "platform/Messaging/MessagingOperation.h"

namespace kr::platform {

std::string_view messagingOperationName(MessagingOperation operation) {
    switch (operation) {
        case MessagingOperation::createClient:
            return "createClient";
        case MessagingOperation::loginByToken:
            return "loginByToken";
        case MessagingOperation::logoutWithCompletion:
            return "logoutWithCompletion";
        case MessagingOperation::setDelegate:
            return "setDelegate";
        case MessagingOperation::createChannelWithId:
            return "createChannelWithId";
        case MessagingOperation::sendPeerMessage:
            return "sendPeerMessage";
        case MessagingOperation::joinWithCompletion:
            return "joinWithCompletion";
        case MessagingOperation::leaveWithCompletion:
            return "leaveWithCompletion";
        case MessagingOperation::setChannelDelegate:
            return "setChannelDelegate";
        case MessagingOperation::sendChannelMessage:
            return "sendChannelMessage";
    }
    return "unknown";
}

}  // namespace kr::platform
