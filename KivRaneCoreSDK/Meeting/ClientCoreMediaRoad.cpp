#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

// The steps of the default road that involve both the messaging channel and the media channel.

namespace kr {

void ClientCore::configureRtmAndEngine() {
    configureRtm();
    configureEngineAndJoin();
}

void ClientCore::cancelMediaJoin() {
    cancelEngineJoin();
}

void ClientCore::switchEngineClientRole(bool isAudience) {
    mediaBackend().switchClientRole(isAudience);
}

void ClientCore::leaveMediaAndMessaging() {
    leaveEngine();
    leaveRtm();
}

}  // namespace kr
