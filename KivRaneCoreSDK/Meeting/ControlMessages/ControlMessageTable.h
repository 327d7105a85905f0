#pragma once

#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"
#include "KivRaneCoreSDK/RTM/Enums/KRRtmMessageEvent.h"

namespace kr {

class IncomingControlMessages;
struct KRRtmMessage;

/// How it reached the local user: on the room channel or addressed to it alone.
enum class ControlMessageRoute { channel, peer };

/// Who a backend takes the message from.
enum class ControlMessageAuthority {
    /// The backend ignores the event.
    ignored,
    /// Anyone in the meeting.
    anyone,
    /// Dropped when the server's record lists the sender as neither host nor co-host; a sender
    /// the server has no record of is obeyed (it may be a host who joined a moment ago).
    hostOrCoHost,
    /// As `hostOrCoHost` while the local user shares its screen (the message ends that share);
    /// otherwise anyone (it then stops the whiteboard the local user looks at).
    hostOrCoHostWhileSharingScreen,
};

/// What one backend does with the event: who it takes it from and the handler.
struct ControlMessageRule {
    ControlMessageAuthority authority = ControlMessageAuthority::ignored;
    void (IncomingControlMessages::*handler)(const KRRtmMessage&) = nullptr;
};

/// One incoming control message: its event, its route, and each backend's rule. Where the two
/// backends agree both rules name the same handler; where they differ the handlers are named apart.
struct ControlMessageRow {
    KRRtmMessageEvent event;
    ControlMessageRoute route;
    ControlMessageRule defaultEngine;
    ControlMessageRule roomEngine;

    /// The rule of the backend the message came through.
    const ControlMessageRule& on(MediaBackend::Kind backend) const {
        return backend == MediaBackend::Kind::defaultEngine ? defaultEngine : roomEngine;
    }
};

}  // namespace kr
