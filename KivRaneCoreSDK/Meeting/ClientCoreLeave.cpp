#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveMeetingRequest.h"

namespace kr {

void ClientCore::leaveMeeting(KRUserLeftReason reason) {
    KR_DCHECK_RUN_ON(checker_);
    // A join still under way is abandoned, not failed: the host asked to leave.
    if (!session_ || !session_->startLeaving()) {
        logger_.warn("Leave ignored: not in a meeting");
        return;
    }
    localUserLeftReason_ = std::move(reason);
    if (shouldLeaveChatThreadOnLeave_) {
        leaveChatThread();
    }
    // The share's stop is reported as a task of its own, before the leave's report.
    localScreenShare_.leave();
    MediaBackend& backend = mediaBackend();
    if (shouldByPassAPICalls_) {
        backend.leave();
        return;
    }
    std::weak_ptr<ClientCore> weak = weak_from_this();
    leaveMeetingAPI([weak, backend = meetingBackend_](bool) {
        // The backend the meeting joined with, even when the host changed the setting since.
        if (weak.lock() && backend) backend->leave();
    });
}

void ClientCore::leaveMeetingAPI(Completion completion) {
    send(LeaveMeetingRequest(currentRoom_.roomID, currentRoom_.historyId),
         [completion = std::move(completion)](ClientCore& client, const auto& result) mutable {
             if (replySucceeded(result)) {
                 client.logger_.info("Leave Meeting API Successfull");
             } else {
                 client.logger_.error("Leave Meeting Error ::: " + replyErrorMessage(result));
             }
             // Whatever the server said, the others must see the local user go.
             client.postUserRoomConnectionStatus(false, false, std::move(completion));
         });
}

void ClientCore::handleLocalMediaLeft() {
    const auto state = meetingState();
    if (state != MeetingState::inMeeting && state != MeetingState::leaving) {
        return;  // reported once per meeting
    }
    endSession(MeetingSession::EndReason::left, [this] {
        releaseSocketManager();
        rtmManager_->setDelegate({});  // nothing the others send reaches a meeting that ended
        currentRoom_.removeAllData();
        removeNotificationsObservers();
    });
    sendLocalUserLeftMeetingEvent();
}

bool ClientCore::endSession(MeetingSession::EndReason reason,
                          const std::function<void()>& children) {
    return session_ && session_->end(reason, children);
}

}  // namespace kr
