#include "KivRaneCoreSDK/Meeting/ClientCore.h"

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

KRChatMessageList ClientCore::getMainChatThreadMessages() const {
    return chatClient_->getMainThreadChatMessages();
}

KRChatMessageList ClientCore::getMeetingChatMessages() const {
    return getMainChatThreadMessages();
}

void ClientCore::getMainChatThread(KRChatManager::ThreadCompletion completion) {
    chatClient_->getMainChatThread(std::move(completion));
}

void ClientCore::getChatThreadMessages(const std::string& threadId,
                                     KRChatManager::PageCompletion completion) {
    chatClient_->getChatThreadMessages(threadId, std::move(completion));
}

void ClientCore::getPrivateChatThread(const std::string& with,
                                    KRChatManager::ThreadCompletion completion) {
    chatClient_->getPrivateChatThreadWithUser(with, std::move(completion));
}

void ClientCore::getPrivateChatMessages(const std::string& userId,
                                      KRChatManager::PageCompletion comletion) {
    chatClient_->getPrivateChatMessages(userId, std::move(comletion));
}

void ClientCore::sendChatTextMessage(const std::string& message,
                                   KRChatManager::MessageCompletion completion) {
    chatClient_->sendChatTextMessage(message, std::nullopt, KRChatMessageDestination::group(),
                                     std::move(completion));
}

void ClientCore::sendPrivateChatTextMessage(const std::string& message, const std::string& userId,
                                          KRChatManager::MessageCompletion completion) {
    chatClient_->sendChatTextMessage(message, std::nullopt, KRChatMessageDestination::user(userId),
                                     std::move(completion));
}

void ClientCore::sendAttachmentMessage(const std::string& messageText, const std::string& fileID,
                                     const std::string& fileName, const std::string& fileSize,
                                     const std::string& fileURL,
                                     KRChatManager::MessageCompletion completion) {
    chatClient_->sendChatTextMessage(messageText,
                                     KRSendAttachmentInfo(fileID, fileName, fileSize, fileURL),
                                     KRChatMessageDestination::group(), std::move(completion));
}

void ClientCore::markReadMessages(const std::string& lastMessageId, const std::string& threadId,
                                KRChatManager::ReadCompletion completion) {
    chatClient_->markReadMessages(lastMessageId, threadId, std::move(completion));
}

void ClientCore::getAllActiveParticipants(KRChatManager::MembersCompletion completion) {
    chatClient_->getChatActiveParticipants(std::move(completion));
}

void ClientCore::addChatDelegate(const std::shared_ptr<KRChatClientDelegate>& delegate,
                               const std::string& identifier) {
    chatClient_->addChatDelegate(delegate, identifier);
}

void ClientCore::removeChatDelegate(const std::string& identifier) {
    chatClient_->removeDelegate(identifier);
}

void ClientCore::addChatMessageRecievedThrougSocket(const KRChatMessage& message) {
    chatClient_->addSocketChatMessage(message);
}

void ClientCore::handleChatManagerCallbacks() {
    std::weak_ptr<ClientCore> weak = weak_from_this();
    chatClient_->setOnGetAllChatMessages([weak](const std::vector<KRChatMessage>&) {
        // Nothing to do with the first page here; the hook only keeps its place.
        (void)weak.lock();
    });
}

}  // namespace kr
