#include "KivRaneCoreSDK/RTM/Managers/RtmConnection.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/RTM/Constants/KRRtmConstants.h"
#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingChannelDelegate.h"
#include "platform/Messaging/MessagingClient.h"
#include "platform/Messaging/MessagingClientDelegate.h"
#include "platform/Messaging/MessagingService.h"

namespace kr {

namespace {

constexpr KivRaneRMLogLevel kInfo = KivRaneRMLogLevel::INFO;
constexpr KivRaneRMLogLevel kWarn = KivRaneRMLogLevel::WARN;
constexpr KivRaneRMLogLevel kError = KivRaneRMLogLevel::ERROR;

std::string stringOr(const boost::json::object& info, std::string_view key) {
    if (auto it = info.find(key); it != info.end()) {
        if (const boost::json::string* text = it->value().if_string()) {
            return std::string(text->data(), text->size());
        }
    }
    return {};
}

}  // namespace

// The caller's completion of one send; whoever finishes it first (the service's answer or the
// end of the session that sent it) calls it, the other finds it finished.
struct RtmConnection::PendingSend {
    SendCompletion completion;
    bool finished = false;

    void finish(bool sent) {
        if (finished) {
            return;
        }
        finished = true;
        if (auto done = std::exchange(completion, nullptr)) {
            done(sent);
        }
    }
};

// One login: its client, the room channel made once the login succeeded, and the sends still
// waiting for the service. It receives the client's and the channel's messages, so a dropped
// session hears nothing more.
struct RtmConnection::Session final : platform::MessagingClientDelegate,
                                      platform::MessagingChannelDelegate {
    Session(std::weak_ptr<RtmConnection> owner, std::shared_ptr<platform::DispatchQueue> onQueue)
        : connection(std::move(owner)), queue(std::move(onQueue)) {}

    // A dropped client or channel gets no answer from the service, so its open sends are
    // answered here, still on the queue and still after the call that made them.
    ~Session() override {
        for (const auto& pending : pendingSends) {
            if (pending->finished) {
                continue;
            }
            pending->finished = true;
            if (auto done = std::exchange(pending->completion, nullptr)) {
                queue->post([done = std::move(done)] { done(false); });
            }
        }
    }

    void track(std::shared_ptr<PendingSend> pending) {
        std::erase_if(pendingSends, [](const auto& p) { return p->finished; });
        pendingSends.push_back(std::move(pending));
    }

    void messageReceived(const platform::MessagingMessage& message,
                         const std::string& peerId) override {
        (void)peerId;
        if (auto owner = connection.lock()) {
            owner->didReceive(*this, message.text, false);
        }
    }

    void messageReceived(const platform::MessagingMessage& message,
                         const platform::MessagingMember& member) override {
        (void)member;
        if (auto owner = connection.lock()) {
            owner->didReceive(*this, message.text, true);
        }
    }

    const std::weak_ptr<RtmConnection> connection;
    const std::shared_ptr<platform::DispatchQueue> queue;
    std::shared_ptr<platform::MessagingClient> client;
    std::shared_ptr<platform::MessagingChannel> channel;
    std::vector<std::shared_ptr<PendingSend>> pendingSends;
};

std::shared_ptr<RtmConnection> RtmConnection::create(
    const KRDependencies& dependencies,
    std::shared_ptr<platform::NotificationCenter> notificationCenter) {
    assert(dependencies.queue && dependencies.messagingService);
    if (!notificationCenter) notificationCenter = dependencies.notifications;
    // Without a host bridge nobody can ask for a send: a centre of its own stays silent.
    if (!notificationCenter) notificationCenter = std::make_shared<platform::NotificationCenter>();
    return std::shared_ptr<RtmConnection>(
        new RtmConnection(dependencies.queue, dependencies.messagingService,
                          dependencies.logCollector, std::move(notificationCenter)));
}

RtmConnection::RtmConnection(std::shared_ptr<platform::DispatchQueue> queue,
                             std::shared_ptr<platform::MessagingService> service,
                             std::shared_ptr<LogCollector> logs,
                             std::shared_ptr<platform::NotificationCenter> notificationCenter)
    : queue_(std::move(queue)),
      service_(std::move(service)),
      logs_(std::move(logs)),
      notificationCenter_(std::move(notificationCenter)) {}

RtmConnection::~RtmConnection() {
    notificationCenter_->removeObserver(sendRequestObserver_);
}

void RtmConnection::setTextHandler(TextHandler handler) {
    KR_DCHECK_RUN_ON(checker_);
    textHandler_ = std::move(handler);
}

std::shared_ptr<platform::MessagingClient> RtmConnection::rtmKit() const {
    KR_DCHECK_RUN_ON(checker_);
    return session_ ? session_->client : nullptr;
}

std::shared_ptr<platform::MessagingChannel> RtmConnection::rtmChannel() const {
    KR_DCHECK_RUN_ON(checker_);
    return session_ ? session_->channel : nullptr;
}

bool RtmConnection::isObservingSendRequests() const {
    KR_DCHECK_RUN_ON(checker_);
    return sendRequestObserver_ != 0;
}

void RtmConnection::observeSendRequests() {
    KR_DCHECK_RUN_ON(checker_);
    if (sendRequestObserver_ != 0) {
        return;  // one registration, or every request would be sent once per registration
    }
    const std::uint64_t observation = ++observation_;
    sendRequestObserver_ = notificationCenter_->addObserver(
        std::string(KRRtmConstants::sendRtmFromExternalSource),
        [weak = weak_from_this(), weakQueue = std::weak_ptr<platform::DispatchQueue>(queue_),
         observation](const platform::Notification& notification) {
            auto queue = weakQueue.lock();
            if (!queue) {
                return;
            }
            const auto handle = [weak, observation](const boost::json::object& userInfo) {
                auto self = weak.lock();
                // A request that waited on the queue while the bridge was closed is stale.
                if (self && self->sendRequestObserver_ != 0 && self->observation_ == observation) {
                    self->didRecieveRequestToSendRTMMessage(userInfo);
                }
            };
            if (queue->isCurrent()) {
                handle(notification.userInfo);
                return;
            }
            // Posted from a thread of the host's: the connection's state lives on its queue.
            queue->post([handle, userInfo = notification.userInfo] { handle(userInfo); });
        });
}

void RtmConnection::stopObservingSendRequests() {
    KR_DCHECK_RUN_ON(checker_);
    notificationCenter_->removeObserver(std::exchange(sendRequestObserver_, 0));
}

void RtmConnection::didRecieveRequestToSendRTMMessage(const boost::json::object& userInfo) {
    KR_DCHECK_RUN_ON(checker_);
    if (userInfo.empty()) {
        return;
    }
    const std::string type = stringOr(userInfo, KRRtmConstants::typeKey);
    const platform::MessagingMessage outgoing{stringOr(userInfo, KRRtmConstants::messageKey)};
    // Only an exact "PrivateChat" picks a peer; anything else goes to the room.
    if (krRtmMessageTypeFromRaw(type) == KRRtmMessageType::peerToPeer) {
        if (!session_ || !session_->client) {
            return;
        }
        session_->client->sendMessage(
            outgoing, stringOr(userInfo, KRRtmConstants::targetParticipantIdKey), {},
            [weak = weak_from_this()](int code) {
                if (auto self = weak.lock()) {
                    if (code == 0) {
                        self->log(kInfo, "Private RTM Message Sent Successfully");
                    } else {
                        self->log(kError, "Failed to send Private RTM Message");
                    }
                }
            });
        return;
    }
    if (!session_ || !session_->channel) {
        return;
    }
    session_->channel->sendMessage(outgoing, {}, [weak = weak_from_this()](int code) {
        if (auto self = weak.lock()) {
            if (code == 0) {
                self->log(kInfo, "Public RTM Message Sent Successfully");
            } else {
                self->log(kError, "Failed to send Public RTM Message");
            }
        }
    });
}

void RtmConnection::configure(const std::string& appId, const std::string& token,
                              const std::string& userId, const std::string& channelId) {
    KR_DCHECK_RUN_ON(checker_);
    auto session = std::make_shared<Session>(weak_from_this(), queue_);
    session->client = platform::MessagingClient::create(appId, session, service_, queue_);
    // Replaces (and so drops) an open session; one already leaving finishes on its own.
    session_ = session->client ? session : nullptr;
    if (!session_) {
        return;
    }
    loginToRtmEngine(session, token, userId,
                     [weak = weak_from_this(), weakSession = std::weak_ptr<Session>(session),
                      channelId](bool loggedIn) {
                         auto self = weak.lock();
                         auto current = weakSession.lock();
                         // A login answered after a leave or a newer configure belongs to nothing
                         // now.
                         if (!self || !current || current != self->session_) {
                             return;
                         }
                         if (!loggedIn) {
                             self->log(kInfo, "Failed to Login to RTM Engine");
                             return;
                         }
                         self->joinRtmChannel(current, channelId);
                         self->log(kInfo, "Successfully Logined to RTM Engine");
                     });
}

void RtmConnection::loginToRtmEngine(const std::shared_ptr<Session>& session,
                                     const std::string& token, const std::string& userId,
                                     std::function<void(bool)> completion) {
    session->client->loginByToken(token, userId, [completion = std::move(completion)](int code) {
        if (completion) {
            completion(code == 0);
        }
    });
}

void RtmConnection::joinRtmChannel(const std::shared_ptr<Session>& session,
                                   const std::string& channelId) {
    session->channel = session->client->createChannelWithId(channelId, session);
    if (!session->channel) {
        return;
    }
    session->channel->joinWithCompletion([weak = weak_from_this(), channelId](int code) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (code == 0) {
            self->log(kInfo, "RTM Channel " + channelId + " Joined Successfully");
        } else {
            self->log(kError, "Failed to Join RTM Channel " + channelId +
                                  ". Error ::: " + std::to_string(code));
        }
    });
}

void RtmConnection::leaveAndLogout() {
    KR_DCHECK_RUN_ON(checker_);
    log(kInfo, "Logging Out of RTM Engine");
    auto session = std::exchange(session_, nullptr);
    if (!session) {
        return;
    }
    if (session->channel) {
        session->channel->setChannelDelegate({});
    }
    session->client->setDelegate({});
    leaving_.push_back(session);
    if (!session->channel) {
        // Login failed or is still pending: log out all the same, so the user does not stay
        // online (and a pending login finds its session gone).
        logOut(session);
        return;
    }
    session->channel->leaveWithCompletion(
        [weak = weak_from_this(), weakSession = std::weak_ptr<Session>(session)](int) {
            auto self = weak.lock();
            auto leaving = weakSession.lock();
            if (self && leaving) {
                self->logOut(leaving);
            }
        });
}

void RtmConnection::logOut(const std::shared_ptr<Session>& session) {
    session->client->logoutWithCompletion(
        [weak = weak_from_this(), weakSession = std::weak_ptr<Session>(session)](int) {
            auto self = weak.lock();
            auto done = weakSession.lock();
            if (self && done) {
                self->forget(done.get());
            }
        });
}

void RtmConnection::forget(const Session* session) {
    std::erase_if(leaving_, [session](const auto& s) { return s.get() == session; });
}

void RtmConnection::sendMessage(const KRRtmMessage& message, SendCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    const std::string event(rawValue(message.message));
    auto text = message.encode();
    if (!text) {
        log(kError,
            "Failed to encode RTM Message ::: " + event + " (" + text.error().message + ")");
        completeSoon(std::move(completion), false);
        return;
    }
    const platform::MessagingMessage outgoing{std::move(text).value()};
    auto pending = std::make_shared<PendingSend>(PendingSend{std::move(completion)});

    if (message.messageType == KRRtmMessageType::publicChat) {
        log(kInfo, "Sending Public RTM Message ::: " + event);
        if (!session_ || !session_->channel) {
            completeSoon(std::exchange(pending->completion, nullptr), false);
            return;
        }
        session_->track(pending);
        session_->channel->sendMessage(
            outgoing, {}, [weak = weak_from_this(), pending, event](int code) {
                pending->finish(code == 0);
                if (code != 0) {
                    return;
                }
                if (auto self = weak.lock()) {
                    self->log(kInfo, "Public RTM Message::: " + event + " Sent Successfully");
                }
            });
        return;
    }

    log(kInfo, "Sending Private RTM Message ::: " + event);
    if (!session_ || !session_->client) {
        completeSoon(std::exchange(pending->completion, nullptr), false);
        return;
    }
    session_->track(pending);
    session_->client->sendMessage(
        outgoing, message.targetParticipantId, {},
        [weak = weak_from_this(), pending, event](int code) {
            pending->finish(code == 0);
            if (code != 0) {
                return;
            }
            if (auto self = weak.lock()) {
                self->log(kInfo, "Private RTM Message::: " + event + " Sent Successfully");
            }
        });
}

void RtmConnection::didReceive(const Session& session, const std::string& text, bool onChannel) {
    KR_DCHECK_RUN_ON(checker_);
    if (session_.get() != &session) {
        return;  // an ended session; its deliveries were detached
    }
    boost::json::object userInfo;
    userInfo[KRRtmConstants::messageKey] = text;
    notificationCenter_->post(std::string(KRRtmConstants::rtmMessageRecieved), nullptr,
                              std::move(userInfo));
    if (session_.get() != &session) {
        return;  // the host left the meeting from its observer
    }
    if (textHandler_) {
        // A copy: the handler may replace itself or drop the connection's owner.
        const TextHandler handler = textHandler_;
        handler(text, onChannel);
    }
}

std::optional<KRRtmMessage> RtmConnection::decodeReceived(const std::string& text,
                                                          bool onChannel) const {
    const std::string route = onChannel ? "Public" : "Private";
    if (text.size() > KRRtmConstants::maxIncomingTextBytes) {
        log(kWarn, "Dropped RTM " + route + " Message ::: " + std::to_string(text.size()) +
                       " bytes is over the limit");
        return std::nullopt;
    }
    auto decoded = KRRtmMessage::decode(text);
    if (!decoded) {
        log(kWarn, "Dropped RTM " + route + " Message ::: " + decoded.error().describe());
        return std::nullopt;
    }
    return std::move(decoded).value();
}

void RtmConnection::log(KivRaneRMLogLevel level, const std::string& message) const {
    // Without a collector the records are dropped.
    if (logs_) logs_->collectLogs(message, std::string(KRRtmConstants::loggerModule), level);
}

void RtmConnection::completeSoon(SendCompletion completion, bool sent) const {
    if (completion) {
        queue_->post([completion = std::move(completion), sent] { completion(sent); });
    }
}

}  // namespace kr
