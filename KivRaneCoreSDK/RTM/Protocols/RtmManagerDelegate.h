#pragma once

#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"

namespace kr {

/// Receiver of the control messages an engine of the room engine backend relays (the facade on
/// that backend). Both methods are required. Which one is called depends on where the text
/// arrived (the room channel or one peer), not on the message's own `messageType`.
///
/// Threading: called on the library's main queue. Engines hold their receiver weakly.
class RtmManagerDelegate {
public:
    virtual ~RtmManagerDelegate() = default;

    /// A message that arrived on the room channel.
    virtual void didRecievePublicMessage(const KRRtmMessage& message) = 0;
    /// A message a peer addressed to the local participant alone.
    virtual void didRecievePrivateMessage(const KRRtmMessage& message) = 0;

protected:
    RtmManagerDelegate() = default;
    RtmManagerDelegate(const RtmManagerDelegate&) = default;
    RtmManagerDelegate& operator=(const RtmManagerDelegate&) = default;
};

}  // namespace kr
