#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

class LogCollector;

namespace platform {
class MessagingChannel;
class MessagingClient;
class MessagingService;
}  // namespace platform

/// The connection work both messaging managers share (not part of the public API): sessions
/// (client, login, channel join, leave and logout), sends that complete exactly once, the host's
/// send-request bridge and the host notification of every received text. What a manager does
/// with a received text after that is its own business: it sets a text handler.
///
/// Each `configure` starts a new session. Completions act only on the session that issued them,
/// so a late login, leave or logout answer from an earlier meeting never touches the current one.
///
/// Threading: confined to its queue; a send request posted from another thread is moved onto it.
class RtmConnection : public std::enable_shared_from_this<RtmConnection> {
public:
    /// Receives true when the service accepted the message, false otherwise. Called exactly
    /// once, on the queue, never inside `sendMessage`.
    using SendCompletion = std::function<void(bool sent)>;
    /// A text that arrived on the open session, on the room channel or from a peer. Called
    /// after the host has been shown the text, and only while that session is still open.
    using TextHandler = std::function<void(const std::string& text, bool onChannel)>;

    /// Uses the queue and messaging service (both required) and the log collector (without one
    /// the connection's records are dropped) of `dependencies`. `notificationCenter` is the host
    /// bridge (null: the dependencies' centre, and without one a centre of its own).
    static std::shared_ptr<RtmConnection> create(
        const KRDependencies& dependencies,
        std::shared_ptr<platform::NotificationCenter> notificationCenter);

    /// Stops listening to the host's send requests. Open sessions end here: their clients are
    /// dropped (which logs them out) and unanswered sends complete with false.
    ~RtmConnection();
    RtmConnection(const RtmConnection&) = delete;
    RtmConnection& operator=(const RtmConnection&) = delete;

    void setTextHandler(TextHandler handler);

    /// Makes a client for `appId`, logs in and, once that succeeds, joins `channelId`. A session
    /// already open is dropped without a leave.
    void configure(const std::string& appId, const std::string& token, const std::string& userId,
                   const std::string& channelId);
    /// Stops deliveries, leaves the channel (when there is one) and logs out. The session is
    /// gone for sending at once.
    void leaveAndLogout();
    /// Sends `message` as JSON text by its own route.
    void sendMessage(const KRRtmMessage& message, SendCompletion completion);

    /// Starts sending the texts the host posts as send requests; a second call changes nothing.
    void observeSendRequests();
    /// Stops at once, also for requests posted from another thread and not yet handled.
    void stopObservingSendRequests();
    bool isObservingSendRequests() const;

    /// A received text as a control message; nullopt (with a warning record) when it is too
    /// long or does not decode.
    std::optional<KRRtmMessage> decodeReceived(const std::string& text, bool onChannel) const;

    std::shared_ptr<platform::MessagingClient> rtmKit() const;
    std::shared_ptr<platform::MessagingChannel> rtmChannel() const;

    void log(KivRaneRMLogLevel level, const std::string& message) const;

private:
    struct Session;
    struct PendingSend;

    RtmConnection(std::shared_ptr<platform::DispatchQueue> queue,
                  std::shared_ptr<platform::MessagingService> service,
                  std::shared_ptr<LogCollector> logs,
                  std::shared_ptr<platform::NotificationCenter> notificationCenter);

    void didRecieveRequestToSendRTMMessage(const boost::json::object& userInfo);
    void loginToRtmEngine(const std::shared_ptr<Session>& session, const std::string& token,
                          const std::string& userId, std::function<void(bool)> completion);
    void joinRtmChannel(const std::shared_ptr<Session>& session, const std::string& channelId);
    void logOut(const std::shared_ptr<Session>& session);
    void forget(const Session* session);
    void didReceive(const Session& session, const std::string& text, bool onChannel);
    void completeSoon(SendCompletion completion, bool sent) const;

    const std::shared_ptr<platform::DispatchQueue> queue_;
    const std::shared_ptr<platform::MessagingService> service_;
    const std::shared_ptr<LogCollector> logs_;
    const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
    platform::SequenceChecker checker_;

    TextHandler textHandler_;
    platform::ObserverToken sendRequestObserver_ = 0;
    std::uint64_t observation_ = 0;     // counts registrations, so a stale request is recognised
    std::shared_ptr<Session> session_;  // the open session, if any
    std::vector<std::shared_ptr<Session>> leaving_;  // left, waiting for their logout
};

}  // namespace kr
