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
    if (settings_.shouldLeaveChatThreadOnLeave) {
        leaveChatThread();
    }
    // The share's stop is reported as a task of its own, before the leave's report.
    localScreenShare_.leave();
    // The backend the meeting joined with, even when the host changes the setting meanwhile;
    // and only while this meeting still waits for it: once its channel reported the leave the
    // media is gone, and the backend may already be in the host's next meeting.
    const auto leaveMedia = [weak = weak_from_this(), backend = meetingBackend_,
                             session = sessionToken()] {
        if (weak.lock() && backend && session.live()) backend->leave();
    };
    if (settings_.shouldByPassAPICalls) {
        // No server call to wait for; the media leave still runs after this call returned, as a
        // channel may report its leave at once and the report must not come inside the call.
        queue_->post(leaveMedia);
        return;
    }
    if (meetingBackend_ && meetingBackend_->waitsForNetwork()) {
        // Without network the server calls wait for it too (up to their time-out): they go out
        // when it returns, and the leave finishes now.
        leaveServerWithoutWaiting();
        queue_->post(leaveMedia);
        return;
    }
    leaveMeetingAPI([leaveMedia](bool) { leaveMedia(); });
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
             client.roomSync_->postOwnStatus(OwnStatus::disconnected, std::move(completion));
         });
}

void ClientCore::leaveServerWithoutWaiting() {
    // Made now, while the room still holds this join's ids; the session ends before the
    // answers come, so the leave's own status post (which needs a live meeting) is not used.
    auto disconnected = roomSync_->makeStatusPost(OwnStatus::disconnected);
    send(LeaveMeetingRequest(currentRoom_.roomID, currentRoom_.historyId),
         [disconnected = std::move(disconnected)](ClientCore& client, const auto& result) {
             if (!replySucceeded(result)) {
                 client.logger_.error("Leave Meeting Error ::: " + replyErrorMessage(result));
             }
             client.send(disconnected, [](ClientCore& again, const auto& posted) {
                 if (!replySucceeded(posted)) {
                     again.logger_.error("Post Room Connection Status Error ::: " +
                                         replyErrorMessage(posted));
                 }
             });
         });
}

void ClientCore::handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason) {
    KR_DCHECK_RUN_ON(checker_);
    if (isJoining()) {
        // The channel of an earlier join that failed reports its leave after the host already
        // tried again: the join under way is not this report's to end.
        logger_.info("Leave of an earlier media channel reported during a join, ignored");
        return;
    }
    // The backend the meeting joined with, also once its session ended (a late report of the
    // channel of a failed join).
    const std::shared_ptr<MediaBackend> backend = meetingBackend_;
    if (!backend) return;  // no meeting was ever joined
    const auto state = meetingState();
    const bool wasInMeeting = state == MeetingState::inMeeting || state == MeetingState::leaving;
    // A leave this client asked for (the host's own, or a removal by the meeting's host) keeps
    // the reason it was asked with; else the engine's, if it gave one.
    const KRUserLeftReason& asked = localUserLeftReason_;
    const KRUserLeftReason reason =
        state == MeetingState::leaving && asked.kind() != KRUserLeftReason::Kind::none
            ? asked
            : engineReason.value_or(asked);
    const auto releaseChildren = [this, &backend] {
        releaseSocketManager();
        backend->releaseMeetingMedia();
        currentRoom_.removeAllData();
        removeNotificationsObservers();
    };
    // Reported once per meeting; a report after its end still lets what is left of it go.
    if (!endSession(MeetingSession::EndReason::left, releaseChildren)) releaseChildren();
    backend->releaseEngine();
    // Nothing to tell of the channel of a failed join, or of a second report.
    if (wasInMeeting) {
        const KRMeeting meeting = getCurrentMeetingData();
        const auto tell = [&](KRClientDelegate& d) { d.didLocalUserLeftMeeting(meeting, reason); };
        if (backend->reportsLeaveToMainDelegateOnly()) {
            events_.forMainDelegate(tell);
        } else {
            events_.forEachDelegate(tell);
        }
    }
    startJoinWaitingForLeave();
}

bool ClientCore::endSession(MeetingSession::EndReason reason,
                          const std::function<void()>& children) {
    return session_ && session_->end(reason, children);
}

}  // namespace kr
