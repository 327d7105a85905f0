#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"

#include <cassert>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateSocketResponse.h"
#include "KivRaneCoreSDK/Socket/Models/SocketEvent.h"
#include "KivRaneCoreSDK/Socket/Models/SocketRequest.h"
#include "KivRaneCoreSDK/Socket/Models/SocketResponse.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"

namespace kr {

std::string_view socketHost(KRApiServer server) {
    if (server == KRApiServer::rc) {
        return "rcsocket.kivrane.com";
    }
    return rawValue(server);
}

std::string socketUrl(KRApiServer server) {
    return "wss://" + std::string(socketHost(server)) + "/ws";
}

std::shared_ptr<KRWebSocketManager> KRWebSocketManager::create(
    KRApiServer serverEnvironment, std::string authToken,
    std::shared_ptr<platform::DispatchQueue> queue,
    std::shared_ptr<platform::WebSocketTransport> transport,
    std::shared_ptr<LogCollector> logCollector) {
    return std::make_shared<KRWebSocketManager>(Private{}, serverEnvironment, std::move(authToken),
                                                false, std::move(queue), std::move(transport),
                                                std::move(logCollector));
}

std::shared_ptr<KRWebSocketManager> KRWebSocketManager::create(KRApiServer serverEnvironment,
                                                               std::string authToken,
                                                               const KRDependencies& dependencies) {
    assert(dependencies.queue);
    auto transport = dependencies.webSocketTransport
                         ? dependencies.webSocketTransport
                         : platform::makeTlsWebSocketTransport(dependencies.routing);
    return create(serverEnvironment, std::move(authToken), dependencies.queue,
                  std::move(transport), dependencies.logCollector);
}

std::shared_ptr<KRWebSocketManager> KRWebSocketManager::createForwarded(
    std::shared_ptr<platform::DispatchQueue> queue,
    std::shared_ptr<platform::NotificationCenter> notifications) {
    auto manager = std::make_shared<KRWebSocketManager>(Private{}, KRApiServer::rc, std::string{},
                                                        true, queue, nullptr, nullptr);
    if (notifications) {
        // The host may post from any thread; the frame is handled on the queue like every
        // other event, so the hooks never race the rest of the library.
        std::weak_ptr<KRWebSocketManager> weak = manager;
        std::weak_ptr<platform::DispatchQueue> weakQueue = queue;
        manager->observer_ = notifications->addObserver(
            std::string(kForwardedMessageNotification),
            [weak, weakQueue](const platform::Notification& notification) {
                if (auto target = weakQueue.lock()) {
                    target->post([weak, info = notification.userInfo] {
                        if (auto self = weak.lock()) {
                            self->processCustomSocketMessage(info);
                        }
                    });
                }
            });
        manager->notifications_ = std::move(notifications);
    }
    return manager;
}

KRWebSocketManager::KRWebSocketManager(Private, KRApiServer serverEnvironment,
                                       std::string authToken, bool useCustomSocketMessages,
                                       std::shared_ptr<platform::DispatchQueue> queue,
                                       std::shared_ptr<platform::WebSocketTransport> transport,
                                       std::shared_ptr<LogCollector> logCollector)
    : serverEnvironment_(serverEnvironment),
      authToken_(std::move(authToken)),
      useCustomSocketMessages_(useCustomSocketMessages),
      queue_(std::move(queue)),
      transport_(std::move(transport)),
      logger_("krsocket", std::move(logCollector)) {}

KRWebSocketManager::~KRWebSocketManager() {
    if (notifications_) {
        notifications_->removeObserver(observer_);
    }
    if (socketConnection_) {
        socketConnection_->disconnect(kNormalClosure);
    }
    if (amAliveTimer_) {
        amAliveTimer_->invalidate();
    }
    if (connectTimer_) {
        connectTimer_->invalidate();
    }
}

void KRWebSocketManager::configureSocket() {
    KR_DCHECK_RUN_ON(checker_);
    if (useCustomSocketMessages_ || !transport_ || !isConnectedToNetwork_ ||
        state_ != State::idle) {
        return;
    }
    if (failedAttempts_ > 0 && queue_->clock()->now() < nextAttemptAt_) {
        return;  // backing off after failed attempts
    }
    state_ = State::connecting;
    const std::uint64_t generation = ++generation_;
    std::weak_ptr<KRWebSocketManager> weak = weak_from_this();
    platform::WebSocketRequest request;
    request.url = socketUrl(serverEnvironment_);
    request.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(kConnectTimeout);
    request.acknowledge = &KRWebSocketManager::acknowledgementFor;
    socketConnection_ = transport_->makeConnection(
        std::move(request), queue_, [weak, generation](const platform::WebSocketEvent& event) {
            if (auto self = weak.lock()) {
                self->didReceive(generation, event);
            }
        });
    connectTimer_ = platform::Timer::schedule(
        queue_, kConnectTimeout, false, [weak, generation](platform::Timer&) {
            auto self = weak.lock();
            if (self && self->generation_ == generation && self->state_ == State::connecting) {
                self->attemptFailed();
            }
        });
    socketConnection_->connect();
}

void KRWebSocketManager::releaseCurrentSocket() {
    KR_DCHECK_RUN_ON(checker_);
    if (state_ == State::idle) {
        return;
    }
    if (state_ == State::connected &&
        queue_->clock()->now() - connectedAt_ >= kHealthyConnection) {
        failedAttempts_ = 0;
        nextAttemptAt_ = {};
    }
    closeConnection();
    state_ = State::idle;
}

void KRWebSocketManager::reconnectSocket() {
    KR_DCHECK_RUN_ON(checker_);
    if (!isUserJoinedMeeting_) {
        return;  // no socket for a meeting that was never joined
    }
    releaseCurrentSocket();
    configureSocket();
}

void KRWebSocketManager::processCustomSocketMessage(const boost::json::object& info) {
    KR_DCHECK_RUN_ON(checker_);
    const boost::json::value frame(info);
    if (!JsonEncoding::allNumbersFinite(frame)) {
        return;  // cannot be written as JSON
    }
    auto self = shared_from_this();  // a hook may drop the manager
    handleSocketResponse(serializeJson(frame));
}

void KRWebSocketManager::didReceive(std::uint64_t generation,
                                    const platform::WebSocketEvent& event) {
    KR_DCHECK_RUN_ON(checker_);
    if (generation != generation_) {
        return;  // a released connection
    }
    auto self = shared_from_this();  // a hook may drop the manager
    using Kind = platform::WebSocketEvent::Kind;
    switch (event.kind) {
        case Kind::connected:
            if (state_ == State::connecting) {
                didConnect();
            }
            break;
        case Kind::text:
            if (state_ != State::connected) {
                break;
            }
            if (const auto* frame = std::any_cast<boost::json::value>(&event.prepared);
                frame && frame->is_object()) {
                handleSocketFrame(*frame, true);
            } else {
                handleSocketResponse(event.payload, true);
            }
            break;
        case Kind::binary:
            break;
        case Kind::disconnected:
        case Kind::error:
            if (state_ == State::connecting) {
                logger_.info("Room socket attempt failed: " + event.payload);
                attemptFailed();
            } else if (state_ == State::connected) {
                connectionEnded(event);
            }
            break;
    }
}

void KRWebSocketManager::didConnect() {
    if (connectTimer_) {
        connectTimer_->invalidate();
        connectTimer_.reset();
    }
    state_ = State::connected;
    connectedAt_ = queue_->clock()->now();
    sendLoginSocketRequest();
    std::weak_ptr<KRWebSocketManager> weak = weak_from_this();
    queue_->post([weak, generation = generation_] {
        auto self = weak.lock();
        if (self && self->generation_ == generation) {
            self->setUpAmAliveTimer();
        }
    });
}

void KRWebSocketManager::attemptFailed() {
    closeConnection();
    state_ = State::idle;
    ++failedAttempts_;
    backOff(failedAttempts_);
}

void KRWebSocketManager::connectionEnded(const platform::WebSocketEvent& event) {
    const bool healthy = queue_->clock()->now() - connectedAt_ >= kHealthyConnection;
    using Kind = platform::WebSocketEvent::Kind;
    const std::string what = event.kind == Kind::error
                                 ? "failed: " + event.payload
                                 : "closed (" + std::to_string(event.closeCode) + ") " +
                                       event.payload;
    if (event.kind == Kind::error || event.closeCode == 1009) {
        logger_.warn("Room socket " + what);
    } else {
        logger_.info("Room socket " + what);
    }
    closeConnection();
    state_ = State::idle;
    if (healthy) {
        failedAttempts_ = 0;
        nextAttemptAt_ = {};
    } else if (++failedAttempts_ > 1) {
        backOff(failedAttempts_ - 1);  // the first one is free
    }
    // A failing live socket is replaced at once; a closed or dropped one waits for the next
    // connect request.
    if (event.kind == Kind::error && isUserJoinedMeeting_ && isConnectedToNetwork_) {
        configureSocket();
    }
}

void KRWebSocketManager::backOff(int step) {
    nextAttemptAt_ = queue_->clock()->now() + backOff_.delay(step);
}

void KRWebSocketManager::closeConnection() {
    ++generation_;
    if (socketConnection_) {
        socketConnection_->disconnect(kNormalClosure);
        socketConnection_.reset();
    }
    if (amAliveTimer_) {
        amAliveTimer_->invalidate();
        amAliveTimer_.reset();
    }
    if (connectTimer_) {
        connectTimer_->invalidate();
        connectTimer_.reset();
    }
}

void KRWebSocketManager::sendLoginSocketRequest() {
    sendData(LoginSocketRequest(authToken_));
}

void KRWebSocketManager::setUpAmAliveTimer() {
    KR_DCHECK_RUN_ON(checker_);
    if (amAliveTimer_) {
        amAliveTimer_->invalidate();
        amAliveTimer_.reset();
    }
    if (state_ != State::connected) {
        return;
    }
    std::weak_ptr<KRWebSocketManager> weak = weak_from_this();
    amAliveTimer_ =
        platform::Timer::schedule(queue_, kKeepAliveInterval, true, [weak](platform::Timer& timer) {
            if (auto self = weak.lock()) {
                self->handleAmAliveTimer();
            } else {
                timer.invalidate();
            }
        });
}

void KRWebSocketManager::handleAmAliveTimer() {
    KR_DCHECK_RUN_ON(checker_);
    sendData(AmAliveSocketRequest(authToken_));
}

void KRWebSocketManager::sendData(const SocketRequest& request) {
    if (state_ != State::connected || !socketConnection_) {
        return;  // dropped: nothing waits for a later connection
    }
    if (auto bytes = request.encode()) {
        socketConnection_->write(std::move(*bytes));
    }
}

namespace {

/// The "event" member when it is text, else "".
std::string_view eventTextOf(const boost::json::value& frame) {
    if (const auto* event = frame.as_object().if_contains("event")) {
        if (const auto* text = event->if_string()) {
            return std::string_view(text->data(), text->size());
        }
    }
    return {};
}

}  // namespace

std::optional<platform::WebSocketAcknowledgement> KRWebSocketManager::acknowledgementFor(
    std::string_view frame) {
    auto parsed = json_detail::parseJson(frame);
    if (!parsed || !parsed.value().is_object()) {
        return std::nullopt;
    }
    auto reply = AckSocketRequest(std::string(eventTextOf(parsed.value()))).encode();
    if (!reply) {
        return std::nullopt;
    }
    // The frame as read here goes to the queue with it, so it is parsed once.
    return platform::WebSocketAcknowledgement(std::move(*reply), std::move(parsed).value());
}

void KRWebSocketManager::handleSocketResponse(std::string_view bytes, bool ownConnection) {
    auto parsed = json_detail::parseJson(bytes);
    if (parsed && parsed.value().is_object()) {
        handleSocketFrame(parsed.value(), ownConnection);
    }
}

void KRWebSocketManager::handleSocketFrame(const boost::json::value& frame, bool ownConnection) {
    switch (socketEventFromRaw(eventTextOf(frame)).value_or(SocketEvent::undefined)) {
        case SocketEvent::chatMessage:
            handleChatMessageEvent(frame);
            break;
        case SocketEvent::roomStatusUpdate:
            handleRoomStatusUpdateResponse(frame);
            break;
        case SocketEvent::recordingStarted:
            if (onRecordingStarted) {
                onRecordingStarted();
            }
            break;
        case SocketEvent::recordingStopped:
            if (onRecordingStopped) {
                onRecordingStopped();
            }
            break;
        case SocketEvent::login:
            if (ownConnection) {
                handleLoginAnswer(frame);
            }
            break;
        case SocketEvent::chatThread:
        case SocketEvent::chatMessageUpdate:
        case SocketEvent::undefined:
            break;
    }
}

void KRWebSocketManager::handleRoomStatusUpdateResponse(const boost::json::value& frame) {
    auto decoded = SocketResponse<RoomStatusUpdateSocketResponse>::fromJson(frame);
    if (!decoded) {
        return;
    }
    const RoomStatusUpdateSocketResponse& status = decoded.value().data;
    if (status.eventType == RoomStatusUpdateEvent::update) {
        if (onRequestToUpdateParticipantsLists) {
            onRequestToUpdateParticipantsLists(status.participants);
        }
    } else if (status.actionType == RoomStatusUpdateActionType::leave) {
        if (onUserLeftMeeting) {
            onUserLeftMeeting(status.sourceId);
        }
    } else if (onRequestToRefreshMeetingData) {
        onRequestToRefreshMeetingData();
    }
}

void KRWebSocketManager::handleLoginAnswer(const boost::json::value& frame) {
    // Only a plain refusal counts against the login; an answer without a verdict took it.
    if (JsonObjectReader(frame).lenientObject("data").lenientOptional<bool>("success") == false) {
        return;  // refused: nothing will be pushed on this connection
    }
    if (++loginsTaken_ > 1 && onLoggedInAgain) {
        onLoggedInAgain();
    }
}

void KRWebSocketManager::handleChatMessageEvent(const boost::json::value& frame) {
    auto decoded = SocketResponse<KRChatMessage>::fromJson(frame);
    if (decoded && onNewChatMessage) {
        onNewChatMessage(decoded.value().data);
    }
}

}  // namespace kr
