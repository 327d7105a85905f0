#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// Control messages: the messaging session of a meeting and the messages the client sends to the
// others. What an arriving message does is in ClientCoreControlMessages.cpp.

namespace kr {

namespace {

/// Hands the manager's reports to the client without keeping it alive: the manager holds its
/// delegate weakly and the client holds this object.
class RtmDelegateAdapter final : public KRRtmManagerDelegate {
public:
    explicit RtmDelegateAdapter(std::weak_ptr<ClientCore> client) : client_(std::move(client)) {}

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto client = client_.lock())
            client->didRecievePublicMessage(message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto client = client_.lock())
            client->didRecievePrivateMessage(message);
    }

private:
    std::weak_ptr<ClientCore> client_;
};

}  // namespace

void ClientCore::wireMessaging() {
    rtmDelegateAdapter_ = std::make_shared<RtmDelegateAdapter>(weak_from_this());
}

void ClientCore::configureRtm() {
    rtmManager_->setDelegate(rtmDelegateAdapter_);
    rtmManager_->configureRtmKit(currentRoom_.webRtcAppId, currentRoom_.userWebRtmToken,
                                 currentRoom_.userWebRtcId, currentRoom_.roomID);
}

void ClientCore::leaveRtm() {
    rtmManager_->leaveAndLogout();
}

void ClientCore::sendControlMessage(ControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                                  Completion completion, const std::string& reactionsType) {
    mediaBackend().sendControlMessage(kind, target, std::move(completion), reactionsType);
}

void ClientCore::sendControlMessageThroughMessaging(ControlMessage kind,
                                                  const std::shared_ptr<KRMeetingUser>& target,
                                                  Completion completion,
                                                  const std::string& reactionsType) {
    if (shouldByPassAPICalls_ && (kind == ControlMessage::participantStartScreenShare ||
                                  kind == ControlMessage::participantStopScreenShare)) {
        completeLater(std::move(completion), false);
        return;
    }
    auto message = makeControlMessage(kind, currentRoom_, target.get(), reactionsType);
    if (!message) {
        logger_.warn("Control message not sent: it names no participant to send it to");
        completeLater(std::move(completion), false);
        return;
    }
    rtmManager_->sendMessage(*message, std::move(completion));
}

void ClientCore::sendReactionType(const std::string& type) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Reaction")) return;
    sendControlMessage(ControlMessage::reaction, nullptr, {}, type);
}

void ClientCore::declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Decline Audio Request")) return;
    sendControlMessage(ControlMessage::micDecline, host, {});
}

void ClientCore::declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Decline Video Request")) return;
    sendControlMessage(ControlMessage::videoDecline, host, {});
}

}  // namespace kr
