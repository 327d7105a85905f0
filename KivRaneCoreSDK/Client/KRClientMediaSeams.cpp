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

void KRClient::configureEngineAndJoin() {
    // wired to the engine wrapper: configure the engine (app id, encoder settings) and join the
    // media channel; the engine's local-join report then calls completeLocalMediaJoin().
}

void KRClient::cancelMediaJoin() {
    // wired to the messaging/engine managers: leave the media channel and messaging of a join
    // that failed after they were asked to join.
}

void KRClient::switchLocalMediaInEngine(bool /*audio*/, bool /*isMute*/) {
    // wired to the messaging/engine managers: mute or unmute the local microphone or camera.
}

void KRClient::leaveMediaAndMessaging() {
    leaveEngine();
    leaveRtm();
}

void KRClient::leaveRtm() {
    // wired to the messaging manager: leave the channel and log out.
}

void KRClient::leaveEngine() {
    // wired to the engine wrapper: leave the media channel; its local-leave report then calls
    // handleLocalMediaLeft(). Until then the channel counts as left at once.
    handleLocalMediaLeft();
}

}  // namespace kr
