#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

namespace kr {

void ClientCore::configureChatClient() {
    KR_DCHECK_RUN_ON(checker_);
    chatClient_->assignNetworkClient(networkClient_);
    chatClient_->setMeetingData(currentRoom_.meetingId, currentRoom_.meetingPin,
                                currentRoom_.roomID, currentRoom_.userWebRtcId,
                                currentRoom_.guestUserId);
}

void ClientCore::leaveChatThread() {
    KR_DCHECK_RUN_ON(checker_);
    // The leave goes on without waiting: its answer changes nothing here.
    chatClient_->leaveMainChatThread([](bool) {});
}

void ClientCore::addChatMessageRecievedThrougSocket(const KRChatMessage& message) {
    chatClient_->addSocketChatMessage(message);
}

}  // namespace kr
