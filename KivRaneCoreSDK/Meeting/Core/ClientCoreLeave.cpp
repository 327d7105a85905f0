#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveMeetingRequest.h"

#include <utility>

namespace kr {

void ClientCore::leaveMeeting(KRUserLeftReason reason) {
    KR_DCHECK_RUN_ON(checker_);
    if (joinAfterLeave_) {
        // The host's last word was to leave: the join that waits for the leave under way (or
        // that just finished) never starts. That leave goes on, and is reported once.
        logger_.info("Leave asked while a join waits for the previous leave: that join is given up");
        refuseJoin(std::exchange(joinAfterLeave_, std::nullopt)->delegate,
                   KRMeetingJoinError::kJoinGivenUpForLeave);
        return;
    }
    leaveCurrentMeeting(std::move(reason));
}

void ClientCore::leaveCurrentMeeting(KRUserLeftReason reason) {
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
    // media is gone, and the backend may already be in the host's next meeting. Asked once, by
    // the server's answers or by the end of their wait, whichever comes first.
    // Held weakly (the core owns its backends): a task still waiting on the queue must not keep
    // them, and through them the queue itself, alive.
    const auto leaveMedia = [weak = weak_from_this(),
                             weakBackend = std::weak_ptr<MediaBackend>(meetingBackend_),
                             session = sessionToken(), asked = std::make_shared<bool>(false)] {
        auto self = weak.lock();
        auto backend = weakBackend.lock();
        if (!self || !backend || !session.live() || std::exchange(*asked, true)) return;
        self->leaveMedia(backend, session);
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
    leaveServerWithoutWaiting([leaveMedia](bool) { leaveMedia(); });
    // A server slow to answer (or a request held until its time-out while the network is gone)
    // does not hold the media leave: its answers may still come, and change nothing.
    queue_->postAfter(kLeaveServerWait, leaveMedia);
}

void ClientCore::leaveMedia(const std::shared_ptr<MediaBackend>& backend,
                            const SessionToken& session) {
    // An engine that never reports its leave must not keep the meeting (and a join waiting
    // for the leave) going: the leave finishes without its report, and no later report of
    // that channel reaches the client.
    queue_->postAfter(kLeaveReportWait, [weak = weak_from_this(),
                                         weakBackend = std::weak_ptr<MediaBackend>(backend),
                                         session] {
        auto self = weak.lock();
        auto owned = weakBackend.lock();
        if (!self || !owned || !session.live() || self->meetingState() != MeetingState::leaving) {
            return;
        }
        self->logger_.warn("The media engine never reported its leave: the leave ends here");
        owned->abandonLeaveReport();
        self->handleLocalMediaLeft();
    });
    backend->leave();
}

void ClientCore::leaveServerWithoutWaiting(Completion completion) {
    // Both go out now, made from this meeting's ids and sent with its login: their answers may
    // come after the next join began, and nothing of this meeting may be sent in that one's
    // name, nor mark that one's user gone after it joined. `completion` waits for both.
    struct Answers {
        int awaited = 2;
        bool posted = false;
        Completion completion;
    };
    const auto answers = std::make_shared<Answers>(Answers{.completion = std::move(completion)});
    const auto answered = [answers] {
        if (--answers->awaited == 0 && answers->completion) answers->completion(answers->posted);
    };
    send(LeaveMeetingRequest(currentRoom_.roomID, currentRoom_.historyId),
         [answered](ClientCore& client, const auto& result) {
             if (replySucceeded(result)) {
                 client.logger_.info("Leave Meeting API Successfull");
             } else {
                 client.logger_.error("Leave Meeting Error ::: " + replyErrorMessage(result));
             }
             answered();
         });
    roomSync_->sendStatusPost(roomSync_->makeStatusPost(OwnStatus::disconnected),
                              [answers, answered](bool posted) {
                                  answers->posted = posted;
                                  answered();
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
        events_.sendLocalUserLeftEvent(reason, backend->reach());
    }
    startJoinWaitingForLeave();
}

bool ClientCore::endSession(MeetingSession::EndReason reason,
                          const std::function<void()>& children) {
    return session_ && session_->end(reason, children);
}

}  // namespace kr
