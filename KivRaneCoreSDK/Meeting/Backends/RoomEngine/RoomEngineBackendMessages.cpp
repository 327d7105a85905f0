#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"

#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"

// Control messages with the room's engine travel through the engine itself. What an arriving one
// does is in IncomingControlMessages.cpp, on the participant merge of this backend.

namespace kr {

class RoomEngineBackend::RtmAdapter final : public RtmManagerDelegate, public SessionReceiver {
public:
    using SessionReceiver::SessionReceiver;

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto c = current())
            c->handleControlMessage(MediaBackend::Kind::roomEngine, ControlMessageRoute::channel,
                                    message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto c = current())
            c->handleControlMessage(MediaBackend::Kind::roomEngine, ControlMessageRoute::peer,
                                    message);
    }
};

std::shared_ptr<RtmManagerDelegate> RoomEngineBackend::rtmDelegate() {
    if (!rtmAdapter_ || !rtmAdapter_->session().sameSession(port_.sessionToken())) {
        rtmAdapter_ = std::make_shared<RtmAdapter>(port_.weakPort(), port_.sessionToken(), *this);
    }
    return rtmAdapter_;
}

void RoomEngineBackend::sendControlMessage(KRControlMessage kind,
                                           const std::shared_ptr<KRMeetingUser>& target,
                                           Completion completion,
                                           const std::string& reactionsType) {
    auto message = makeControlMessage(kind, port_.room(), port_.localShare().streamUid(),
                                      target.get(), reactionsType);
    if (!message || !rtcEngineManager_) {
        port_.logger().warn(message
                                ? "Control message not sent: no engine carries it"
                                : "Control message not sent: it names no participant to send it to");
        port_.completeLater(std::move(completion), false);
        return;
    }
    if (message->messageType == KRRtmMessageType::publicChat) {
        rtcEngineManager_->sendPublicMessage(*message);
    } else {
        rtcEngineManager_->sendPrivateMessage(*message);
    }
    // The engine's messaging reports no outcome of its own: handed over is as far as it is known.
    port_.completeLater(std::move(completion), true);
}

}  // namespace kr
