#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

// The steps of the default road that involve both the messaging channel and the media channel.

namespace kr {

void KRClient::configureRtmAndEngine() {
    configureRtm();
    configureEngineAndJoin();
}

void KRClient::cancelMediaJoin() {
    cancelEngineJoin();
}

void KRClient::switchEngineClientRole(bool isAudience) {
    mediaBackend().switchClientRole(isAudience);
}

void KRClient::leaveMediaAndMessaging() {
    leaveEngine();
    leaveRtm();
}

}  // namespace kr
