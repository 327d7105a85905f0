#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Dispatch/Timer.h"
#include "platform/Notifications/NotificationCenter.h"
#include "platform/WebSocket/WebSocketTransport.h"

namespace kr {

class SocketRequest;

/// The host of an environment's room socket: the REST host, except for `rc`, whose socket has a
/// host of its own.
std::string_view socketHost(KRApiServer server);
/// "wss://" + socket host + "/ws".
std::string socketUrl(KRApiServer server);

/// The room event socket of one meeting join. Either it keeps its own connection to the
/// environment's "/ws" (a guest), logging in with the meeting token, sending a keep-alive every
/// 25 s and acknowledging every frame; or it only handles the frames the host app forwards as
/// the "kr_cpass_socket_message_data" notification (a signed-in user). Either way each frame
/// ends in at most one of the hooks below.
///
/// Connection states: idle, connecting (at most 20 s), connected. Every attempt that ends before
/// it connects, for whatever reason, returns to idle, so a later `configureSocket()` tries again;
/// after failed attempts it waits about 1, 2, 4 ... up to 30 s before the next one (each wait
/// drawn between half and all of that, so that clients do not come back in step). A connection
/// that ends within `kHealthyConnection` of connecting counts as failed too, except the first
/// since the last healthy one, so a server that accepts and drops every connection is not
/// hammered; only a connection that stayed up that long resets the count. An error on a
/// connected socket reconnects at once (unless backing off) while the meeting runs and the
/// network is up; a closed or dropped connection just goes idle and waits for the next
/// `configureSocket()`. Frames to send while not connected are dropped; the login is sent again on
/// every connect. Frames on the own connection are acknowledged by the transport on its I/O
/// thread, before they are handed to the queue.
///
/// Threading: confined to `queue`. Connection events, timers and forwarded frames run there, and
/// so do the hooks. Hooks may call back into the manager or drop it.
class KRWebSocketManager : public std::enable_shared_from_this<KRWebSocketManager> {
public:
    /// The notification whose user info is a forwarded frame ("event", "data").
    static constexpr std::string_view kForwardedMessageNotification =
        "kr_cpass_socket_message_data";
    static constexpr auto kConnectTimeout = std::chrono::seconds(20);
    static constexpr auto kKeepAliveInterval = std::chrono::seconds(25);
    static constexpr auto kHealthyConnection = std::chrono::seconds(10);
    static constexpr std::uint16_t kNormalClosure = 1000;

    /// Own-connection mode; nothing connects until `configureSocket()`.
    static std::shared_ptr<KRWebSocketManager> create(
        KRApiServer serverEnvironment, std::string authToken,
        std::shared_ptr<platform::DispatchQueue> queue,
        std::shared_ptr<platform::WebSocketTransport> transport,
        std::shared_ptr<LogCollector> logCollector = nullptr);

    /// Own-connection mode on the dependencies' queue, over their WebSocket transport, or a TLS
    /// transport with their routing when they name none.
    static std::shared_ptr<KRWebSocketManager> create(KRApiServer serverEnvironment,
                                                      std::string authToken,
                                                      const KRDependencies& dependencies);

    /// Host-forwarded mode: never connects; handles what is posted to `notifications` under
    /// `kForwardedMessageNotification` (moved onto `queue` first).
    static std::shared_ptr<KRWebSocketManager> createForwarded(
        std::shared_ptr<platform::DispatchQueue> queue,
        std::shared_ptr<platform::NotificationCenter> notifications);

    /// Closes the connection and stops the timers.
    ~KRWebSocketManager();
    KRWebSocketManager(const KRWebSocketManager&) = delete;
    KRWebSocketManager& operator=(const KRWebSocketManager&) = delete;

    /// Starts a connection unless forwarded, offline, connecting, connected or backing off.
    void configureSocket();
    /// Ends the connection, or abandons an attempt in progress; idle afterwards.
    void releaseCurrentSocket();
    /// Release, then connect again; does nothing unless the user has joined the meeting.
    void reconnectSocket();
    /// Handles one forwarded frame (never acknowledged), in either mode and any state.
    void processCustomSocketMessage(const boost::json::object& info);

    bool isConnectedToNetwork() const { return isConnectedToNetwork_; }
    void setIsConnectedToNetwork(bool value) { isConnectedToNetwork_ = value; }
    bool isUserJoinedMeeting() const { return isUserJoinedMeeting_; }
    void setIsUserJoinedMeeting(bool value) { isUserJoinedMeeting_ = value; }
    /// Kept for the facade; the manager never reads it.
    bool isStartedManually() const { return isStartedManually_; }
    void setIsStartedManually(bool value) { isStartedManually_ = value; }

    bool usesForwardedMessages() const { return useCustomSocketMessages_; }
    bool isSocketConnected() const { return state_ == State::connected; }
    bool isSocketInConnectingState() const { return state_ == State::connecting; }

    // Hooks, set by the facade on the queue. An unset hook is skipped.
    std::function<void()> onRequestToRefreshMeetingData;
    std::function<void(const std::vector<KRMeetingParticipant>&)>
        onRequestToUpdateParticipantsLists;
    std::function<void(const std::string& userId)> onUserLeftMeeting;
    /// Declared for the host app; never called by the manager.
    std::function<void(const std::string&)> onMeetingSoftMuteEnabled;
    std::function<void(const std::string&)> onMeetingHardMuteEnabled;
    std::function<void(const std::string&)> onMeetingHardMuteDisabled;
    /// A pushed chat message; frames whose data is not a chat message never get here.
    std::function<void(const KRChatMessage& message)> onNewChatMessage;
    std::function<void()> onRecordingStarted;
    std::function<void()> onRecordingStopped;
    /// The service took a login on the own connection, not the first one it took: whatever it
    /// pushed while the socket was down or reconnecting never arrived. Forwarded frames never
    /// get here.
    std::function<void()> onLoggedInAgain;

private:
    struct Private {
        explicit Private() = default;
    };

public:
    KRWebSocketManager(Private, KRApiServer serverEnvironment, std::string authToken,
                       bool useCustomSocketMessages, std::shared_ptr<platform::DispatchQueue> queue,
                       std::shared_ptr<platform::WebSocketTransport> transport,
                       std::shared_ptr<LogCollector> logCollector);

    /// The acknowledgement of a received frame, or nothing for one that is not a JSON object;
    /// the parsed frame rides along to the queue. Pure; the transport calls it on its I/O thread.
    static std::optional<platform::WebSocketAcknowledgement> acknowledgementFor(
        std::string_view frame);

private:
    enum class State { idle, connecting, connected };

    void didReceive(std::uint64_t generation, const platform::WebSocketEvent& event);
    void didConnect();
    void attemptFailed();
    void connectionEnded(const platform::WebSocketEvent& event);
    /// Holds the next attempt back for the `step`th wait of 1, 2, 4 ... 30 s, with jitter.
    void backOff(int step);
    void closeConnection();
    void sendLoginSocketRequest();
    void setUpAmAliveTimer();
    void handleAmAliveTimer();
    void sendData(const SocketRequest& request);
    void handleSocketResponse(std::string_view bytes, bool ownConnection = false);
    /// Dispatches a frame that parsed as a JSON object; `ownConnection` when it came on the
    /// manager's own connection rather than forwarded.
    void handleSocketFrame(const boost::json::value& frame, bool ownConnection = false);
    void handleRoomStatusUpdateResponse(const boost::json::value& frame);
    void handleChatMessageEvent(const boost::json::value& frame);
    void handleLoginAnswer(const boost::json::value& frame);

    platform::SequenceChecker checker_;
    const KRApiServer serverEnvironment_;
    const std::string authToken_;
    const bool useCustomSocketMessages_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    const std::shared_ptr<platform::WebSocketTransport> transport_;

    State state_ = State::idle;
    std::shared_ptr<platform::WebSocketConnection> socketConnection_;
    std::uint64_t generation_ = 0;  // tells events of a released connection apart
    std::shared_ptr<platform::Timer> amAliveTimer_;
    std::shared_ptr<platform::Timer> connectTimer_;
    int failedAttempts_ = 0;  // attempts and short-lived connections since a healthy one
    int loginsTaken_ = 0;     // logins the service answered with success, on any connection
    platform::Clock::time_point nextAttemptAt_{};
    platform::Clock::time_point connectedAt_{};
    RetryBackOff backOff_;
    KivRaneRealTimeLogger2 logger_;

    bool isConnectedToNetwork_ = false;
    bool isStartedManually_ = false;
    bool isUserJoinedMeeting_ = false;

    std::shared_ptr<platform::NotificationCenter> notifications_;
    platform::ObserverToken observer_ = 0;
};

}  // namespace kr
