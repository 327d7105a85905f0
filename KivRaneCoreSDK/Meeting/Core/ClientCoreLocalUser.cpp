#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

namespace kr {

void ClientCore::muteLocalAudio(bool isMute) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Mute Local Audio")) return;
    // A host-supplied engine may report the new state before this returns, and the host may
    // drop the client from inside that report.
    const auto keepAlive = shared_from_this();
    mediaBackend().muteLocalMedia(true, isMute);
    roomSync_->sendMicrophoneChange(isMute);
}

void ClientCore::muteLocalVideo(bool isMute) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Mute Local Video")) return;
    const auto keepAlive = shared_from_this();
    mediaBackend().muteLocalMedia(false, isMute);
    roomSync_->sendCameraChange(isMute);
}

void ClientCore::raiseHand() {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Raise Hand")) return;
    roomSync_->changeLocalHand(true, RoomSync::HandChange::byApp);
}

void ClientCore::lowerHand() {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Lower Hand")) return;
    roomSync_->changeLocalHand(false, RoomSync::HandChange::byApp);
}

}  // namespace kr
