#include "KivRaneCoreSDK/Meeting/RoomEngineBackend.h"

#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// Control messages with the room's engine travel through the engine itself. What an arriving one
// does is in ClientCoreControlMessages.cpp, on the participant merge of this backend.

namespace kr {

class RoomEngineBackend::RtmAdapter final : public RtmManagerDelegate, public SessionReceiver {
public:
    using SessionReceiver::SessionReceiver;

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
};

std::shared_ptr<RtmManagerDelegate> RoomEngineBackend::rtmDelegate() {
    if (!rtmAdapter_ || !rtmAdapter_->session().sameSession(c_.sessionToken())) {
        rtmAdapter_ = std::make_shared<RtmAdapter>(c_.weak_from_this(), c_.sessionToken());
    }
    return rtmAdapter_;
}

void RoomEngineBackend::sendControlMessage(KRControlMessage kind,
                                           const std::shared_ptr<KRMeetingUser>& target,
                                           Completion completion,
                                           const std::string& reactionsType) {
    auto message = makeControlMessage(kind, c_.currentRoom_, c_.localScreenShare().streamUid(),
                                      target.get(), reactionsType);
    if (!message || !rtcEngineManager_) {
        c_.logger_.warn(message ? "Control message not sent: no engine carries it"
                                : "Control message not sent: it names no participant to send it to");
        c_.completeLater(std::move(completion), false);
        return;
    }
    if (message->messageType == KRRtmMessageType::publicChat) {
        rtcEngineManager_->sendPublicMessage(*message);
    } else {
        rtcEngineManager_->sendPrivateMessage(*message);
    }
    // The engine's messaging reports no outcome of its own: handed over is as far as it is known.
    c_.completeLater(std::move(completion), true);
}

}  // namespace kr
