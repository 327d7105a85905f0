#include "KivRaneCoreSDK/Client/KRClient.h"

// Where the facade hands over to the messaging, media engine, room socket and chat managers.
// Every function here is wired to the messaging/engine managers when they join the client; until
// then each one does nothing but what keeps the client's own state consistent.

namespace kr {

void KRClient::configureRtmAndEngine() {
    configureRtm();
    configureEngineAndJoin();
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

void KRClient::switchEngineClientRole(bool /*isAudience*/) {
    // wired to the engine wrapper: switch the local client role (audience or participant) in the
    // media channel; the engine's role report then tells the host app.
    logger_.info("Client role switch asked of the media channel");
}

void KRClient::leaveMediaAndMessaging() {
    leaveEngine();
    leaveRtm();
}

void KRClient::leaveEngine() {
    // wired to the engine wrapper: leave the media channel; its local-leave report then calls
    // handleLocalMediaLeft(). Until then the channel counts as left at once.
    handleLocalMediaLeft();
}

}  // namespace kr
