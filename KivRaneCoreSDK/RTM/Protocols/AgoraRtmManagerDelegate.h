#pragma once

#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"

namespace kr {

/// Receiver of the control messages an AgoraRtmManager decodes (its engine wrapper). Messages
/// arrive exactly as decoded: the sender's name is the one it sent. Which method is called
/// depends on where the text arrived (room channel or a peer), not on the message's own
/// `messageType`.
///
/// Threading: called on the manager's queue, after the raw text has been posted to the host.
class AgoraRtmManagerDelegate {
public:
    virtual ~AgoraRtmManagerDelegate() = default;

    /// A message that arrived on the room channel.
    virtual void didRecievePublicMessage(const KRRtmMessage& message) = 0;
    /// A message addressed to this user alone.
    virtual void didRecievePrivateMessage(const KRRtmMessage& message) = 0;

protected:
    AgoraRtmManagerDelegate() = default;
    AgoraRtmManagerDelegate(const AgoraRtmManagerDelegate&) = default;
    AgoraRtmManagerDelegate& operator=(const AgoraRtmManagerDelegate&) = default;
};

}  // namespace kr
