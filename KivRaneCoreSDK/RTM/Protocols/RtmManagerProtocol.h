#pragma once

#include <memory>

#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "KivRaneCoreSDK/RTM/Protocols/RtmManagerDelegate.h"

namespace kr {

/// What a messaging component of the room engine backend offers: a receiver for incoming control
/// messages and the two sends. Published for host components; the library itself sends through
/// the engine contract's operations of the same names. No operation reports a result: a send
/// that fails is simply not delivered.
///
/// Threading: called on the library's main queue.
class RtmManagerProtocol {
public:
    virtual ~RtmManagerProtocol() = default;

    /// Keeps `delegate` (weakly) as the receiver of incoming control messages; an empty pointer
    /// detaches it.
    virtual void setRtmManagerDelegate(std::weak_ptr<RtmManagerDelegate> delegate) = 0;
    /// Sends `message` to the room channel.
    virtual void sendPublicMessage(const KRRtmMessage& message) = 0;
    /// Sends `message` to the peer named by its `targetParticipantId`.
    virtual void sendPrivateMessage(const KRRtmMessage& message) = 0;

protected:
    RtmManagerProtocol() = default;
    RtmManagerProtocol(const RtmManagerProtocol&) = default;
    RtmManagerProtocol& operator=(const RtmManagerProtocol&) = default;
};

}  // namespace kr
