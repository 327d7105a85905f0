#include "KivRaneCoreSDK/Client/KRClient.h"

// Where the facade hands over to the messaging, media engine, room socket and chat managers.
// Every function here is wired to the messaging/engine managers when they join the client; until
// then each one does nothing but what keeps the client's own state consistent.

namespace kr {

void KRClient::sendControlMessage(ControlMessage /*message*/,
                                  const std::shared_ptr<KRMeetingUser>& /*target*/,
                                  Completion completion) {
    // wired to the messaging/engine managers: nothing is sent yet, so report it unsent.
    completeLater(std::move(completion), false);
}

void KRClient::configureRtmAndEngine() {
    configureRtm();
    configureEngineAndJoin();
}

void KRClient::configureRtm() {
    // wired to the messaging manager: log in and join the room's channel.
}

void KRClient::cancelMediaJoin() {
    cancelEngineJoin();
    // wired to the messaging manager: leave the messaging channel of a join that failed after it
    // was asked to join.
}

void KRClient::leaveMediaAndMessaging() {
    leaveEngine();
    leaveRtm();
}

void KRClient::leaveRtm() {
    // wired to the messaging manager: leave the channel and log out.
}

void KRClient::configureChatClient() {
    // wired to the chat manager: hand it the network client and the meeting's ids.
}

void KRClient::leaveChatThread() {
    // wired to the chat manager: leave the meeting's chat thread.
}

void KRClient::startSocketService() {
    // wired to the room socket manager.
}

void KRClient::stopSocketService() {
    // wired to the room socket manager.
}

}  // namespace kr
