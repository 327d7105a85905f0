#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

// The host's calls that only tell the others: a control message through the meeting's backend.
// What an arriving message does is IncomingControlMessages'.

namespace kr {

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
