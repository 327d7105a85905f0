#pragma once

#include <string_view>

namespace kr::platform {

/// Every call of the messaging stand-in; names its entries in the call log and selects the call
/// an injected failure applies to.
enum class MessagingOperation {
    createClient,
    loginByToken,
    logoutWithCompletion,
    setDelegate,
    createChannelWithId,
    sendPeerMessage,
    joinWithCompletion,
    leaveWithCompletion,
    setChannelDelegate,
    sendChannelMessage,
};

/// The name of an operation as it appears in the call log, e.g. "loginByToken".
std::string_view messagingOperationName(MessagingOperation operation);

}  // namespace kr::platform
