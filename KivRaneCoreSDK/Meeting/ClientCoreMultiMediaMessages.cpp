#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// Control messages on the multimedia-engine road travel through the room's engine. What an
// arriving one does is in ClientCoreControlMessages.cpp, on the participant merge of this road.

namespace kr {

/// Held weakly by the engine; owned by the client. One per join: a message still arriving
/// through the receiver of a meeting that was left or failed must not act on the client.
class ClientCore::MultiMediaRtmAdapter final : public RtmManagerDelegate {
public:
    MultiMediaRtmAdapter(std::weak_ptr<ClientCore> client, MeetingSession::Token session)
        : client_(std::move(client)), session_(std::move(session)) {}
    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto c = current())
            c->handleControlMessage(ControlMessageRoad::multiMedia, ControlMessageRoute::channel,
                                    message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto c = current())
            c->handleControlMessage(ControlMessageRoad::multiMedia, ControlMessageRoute::peer,
                                    message);
    }
    const MeetingSession::Token& session() const { return session_; }

private:
    std::shared_ptr<ClientCore> current() const {
        auto c = client_.lock();
        return c && session_.live() ? c : nullptr;
    }
    std::weak_ptr<ClientCore> client_;
    MeetingSession::Token session_;
};

std::shared_ptr<RtmManagerDelegate> ClientCore::multiMediaRtmDelegate() {
    if (!multiMediaRtmAdapter_ || !multiMediaRtmAdapter_->session().sameSession(sessionToken())) {
        multiMediaRtmAdapter_ = std::make_shared<MultiMediaRtmAdapter>(weak_from_this(), sessionToken());
    }
    return multiMediaRtmAdapter_;
}

void ClientCore::sendControlMessageThroughEngine(ControlMessage kind,
                                               const std::shared_ptr<KRMeetingUser>& target,
                                               Completion completion,
                                               const std::string& reactionsType) {
    auto message = makeControlMessage(kind, currentRoom_, target.get(), reactionsType);
    if (!message || !rtcEngineManager_) {
        logger_.warn(message ? "Control message not sent: no engine carries it"
                             : "Control message not sent: it names no participant to send it to");
        completeLater(std::move(completion), false);
        return;
    }
    if (message->messageType == KRRtmMessageType::publicChat) {
        rtcEngineManager_->sendPublicMessage(*message);
    } else {
        rtcEngineManager_->sendPrivateMessage(*message);
    }
    // The engine's messaging reports no outcome of its own: handed over is as far as it is known.
    completeLater(std::move(completion), true);
}

}  // namespace kr
