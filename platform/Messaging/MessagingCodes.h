#pragma once

namespace kr::platform {

/// Result codes of the stand-in messaging service, passed to every completion. 0 means success;
/// the other numbers are this stand-in's own. An injected failure passes its own code.
struct MessagingCodes {
    static constexpr int kOk = 0;
    static constexpr int kFailure = 1;
    static constexpr int kInvalidArgument = 2;
    static constexpr int kNotLoggedIn = 3;
    static constexpr int kAlreadyLoggedIn = 4;
    static constexpr int kNotInChannel = 5;
    static constexpr int kAlreadyInChannel = 6;
    static constexpr int kPeerUnreachable = 7;  // the peer is not logged in
};

}  // namespace kr::platform
