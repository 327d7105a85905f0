#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/RTM/Managers/RtmConnection.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "KivRaneCoreSDK/RTM/Protocols/KRRtmManagerDelegate.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

class ContactSyncManager;

namespace platform {
class MessagingChannel;
class MessagingClient;
}  // namespace platform

/// The meeting's connection to the messaging service. It signs in, enters the room's channel,
/// sends control messages to the channel or to one peer, and hands every message that
/// arrives to the host app (raw, through the "kr_client_rtm_message_recieved" notification) and
/// to its delegate (decoded). The host app can also post "kr_send_rtm_message_from_external_source"
/// to have a raw text sent unchanged.
///
/// Each `configureRtmKit` starts a new session (client, then channel once logged in). Completions
/// act only on the session that issued them, so a late login, leave or logout answer from an
/// earlier meeting never touches the current one.
///
/// Threading: confined to its queue. Host calls and every callback run there; a send request
/// posted from another thread is moved onto the queue. The delegate is held weakly.
class KRRtmManager : public std::enable_shared_from_this<KRRtmManager> {
public:
    /// Receives true when the service accepted the message, false otherwise (also when it could
    /// not be encoded or there was no client or channel to send it with). Called exactly once,
    /// on the queue, never inside `sendMessage`.
    using SendCompletion = RtmConnection::SendCompletion;

    /// Uses `queue`, `messagingService` (both required) and `logCollector` of `dependencies`.
    /// `notificationCenter` is the host bridge (null: the dependencies' centre, and without one
    /// a centre of its own); `contacts` supplies the host's names for senders (null: the
    /// dependencies' list, and without one an empty list).
    static std::shared_ptr<KRRtmManager> create(
        const KRDependencies& dependencies,
        std::shared_ptr<platform::NotificationCenter> notificationCenter = nullptr,
        std::shared_ptr<const ContactSyncManager> contacts = nullptr);

    /// Stops listening to the host's send requests. Open sessions end with the manager: their
    /// clients are dropped (which logs them out) and unanswered sends complete with false.
    ~KRRtmManager();
    KRRtmManager(const KRRtmManager&) = delete;
    KRRtmManager& operator=(const KRRtmManager&) = delete;

    void setDelegate(std::weak_ptr<KRRtmManagerDelegate> delegate);
    std::shared_ptr<KRRtmManagerDelegate> delegate() const;

    /// Makes a client for `appId`, logs in as `userId` with `token` and, once that succeeds,
    /// joins `channelId`. Returns at once; failures are only logged. A session already open is
    /// dropped without a leave.
    void configureRtmKit(const std::string& appId, const std::string& token,
                         const std::string& userId, const std::string& channelId);

    /// Stops deliveries, leaves the channel and logs out (also when no channel was ever made).
    /// Returns at once; the session is gone for sending right away.
    void leaveAndLogout();

    /// Sends `message` as JSON text: to the room channel for `publicChat`, to the peer
    /// `targetParticipantId` for `peerToPeer`.
    void sendMessage(const KRRtmMessage& message, SendCompletion completion = nullptr);

    /// The current session's client and channel (null when there is none).
    std::shared_ptr<platform::MessagingClient> rtmKit() const;
    std::shared_ptr<platform::MessagingChannel> rtmChannel() const;

private:
    KRRtmManager(std::shared_ptr<RtmConnection> connection,
                 std::shared_ptr<const ContactSyncManager> contacts);

    void didReceive(const std::string& text, bool onChannel);

    const std::shared_ptr<RtmConnection> connection_;
    const std::shared_ptr<const ContactSyncManager> contacts_;
    platform::SequenceChecker checker_;

    std::weak_ptr<KRRtmManagerDelegate> delegate_;
};

}  // namespace kr
