#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/RTM/Managers/RtmConnection.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "KivRaneCoreSDK/RTM/Protocols/AgoraRtmManagerDelegate.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

namespace platform {
class MessagingChannel;
class MessagingClient;
}  // namespace platform

/// The messaging connection of the library's own room engine, which owns it. It
/// connects, sends and receives like KRRtmManager, with two differences: received messages reach
/// the delegate exactly as decoded (the engine puts the contact's name in itself), and the
/// host's "kr_send_rtm_message_from_external_source" requests are sent only while a meeting is
/// configured, from `configureRtmKit` to the next `leaveAndLogout`.
///
/// Threading: confined to its queue. Host calls and every callback run there; a send request
/// posted from another thread is moved onto the queue. The delegate is held weakly.
class AgoraRtmManager : public std::enable_shared_from_this<AgoraRtmManager> {
public:
    /// Receives true when the service accepted the message, false otherwise. Called exactly
    /// once, on the queue, never inside `sendMessage`.
    using SendCompletion = RtmConnection::SendCompletion;

    /// Uses the queue, messaging service (both required) and log collector of `dependencies`.
    /// `notificationCenter` is the host bridge (null: the dependencies' centre, and without one
    /// a centre of its own).
    static std::shared_ptr<AgoraRtmManager> create(
        const KRDependencies& dependencies,
        std::shared_ptr<platform::NotificationCenter> notificationCenter = nullptr);

    /// Open sessions end with the manager: their clients are dropped (which logs them out),
    /// unanswered sends complete with false and the host bridge closes.
    ~AgoraRtmManager();
    AgoraRtmManager(const AgoraRtmManager&) = delete;
    AgoraRtmManager& operator=(const AgoraRtmManager&) = delete;

    void setDelegate(std::weak_ptr<AgoraRtmManagerDelegate> delegate);
    std::shared_ptr<AgoraRtmManagerDelegate> delegate() const;

    /// Opens the host's send-request bridge, makes a client for `appId`, logs in as `userId`
    /// with `token` and, once that succeeds, joins `channelId`. A session already open is
    /// dropped without a leave.
    void configureRtmKit(const std::string& appId, const std::string& token,
                         const std::string& userId, const std::string& channelId);

    /// Closes the host's send-request bridge at once, stops deliveries, leaves the channel and
    /// logs out (also when no channel was ever made).
    void leaveAndLogout();

    /// Sends `message` as JSON text: to the room channel for `publicChat`, to the peer
    /// `targetParticipantId` for `peerToPeer`.
    void sendMessage(const KRRtmMessage& message, SendCompletion completion = nullptr);

    /// The current session's client and channel (null when there is none).
    std::shared_ptr<platform::MessagingClient> rtmKit() const;
    std::shared_ptr<platform::MessagingChannel> rtmChannel() const;

private:
    explicit AgoraRtmManager(std::shared_ptr<RtmConnection> connection);

    void didReceive(const std::string& text, bool onChannel);

    const std::shared_ptr<RtmConnection> connection_;
    platform::SequenceChecker checker_;

    std::weak_ptr<AgoraRtmManagerDelegate> delegate_;
};

}  // namespace kr
