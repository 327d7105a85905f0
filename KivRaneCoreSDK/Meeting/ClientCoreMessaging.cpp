#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// The control messages the client sends to the others, through the meeting's backend (the
// default engine's go through the messaging session). What an arriving message does is in
// ClientCoreControlMessages.cpp.

namespace kr {

void ClientCore::sendControlMessage(ControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                                  Completion completion, const std::string& reactionsType) {
    mediaBackend().sendControlMessage(kind, target, std::move(completion), reactionsType);
}

void ClientCore::sendReactionType(const std::string& type) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Reaction")) return;
    sendControlMessage(ControlMessage::reaction, nullptr, {}, type);
}

void ClientCore::declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Decline Audio Request")) return;
    sendControlMessage(ControlMessage::micDecline, host, {});
}

void ClientCore::declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Decline Video Request")) return;
    sendControlMessage(ControlMessage::videoDecline, host, {});
}

}  // namespace kr
