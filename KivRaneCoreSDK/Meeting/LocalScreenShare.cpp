#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"

#include <utility>

#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Notifications/DarwinNotifyCenter.h"

namespace kr {

LocalScreenShare::LocalScreenShare(Owner& owner, const KRDependencies& dependencies)
    : owner_(owner),
      queue_(dependencies.queue),
      extension_(dependencies.extensionNotifications),
      storageDirectory_(dependencies.storageDirectory),
      logger_("krclient", dependencies.logCollector) {}

LocalScreenShare::~LocalScreenShare() { stopObserving(); }

// ---- The meeting ----

void LocalScreenShare::beginMeeting() {
    KR_DCHECK_RUN_ON(checker_);
    stopObserving();
    uid_ = 0;
    token_.clear();
    endedStreams_.clear();
    stopToldTo_.reset();
    takesOverAShare_ = false;
    observe(kCaptureStartedNotification, [](LocalScreenShare& s) { s.start({}); });
    observe(kStreamStartedNotification, [](LocalScreenShare& s) { s.streamStarted(); });
    observe(kCaptureStoppedNotification, [](LocalScreenShare& s) { s.captureStopped(); });
}

void LocalScreenShare::endMeeting() {
    KR_DCHECK_RUN_ON(checker_);
    stopObserving();
    deliverWaitingReports();
}

void LocalScreenShare::observe(const char* name, void (*action)(LocalScreenShare&)) {
    if (!extension_) return;
    // The extension posts from wherever it runs: the callback only posts, and the owner (which
    // owns this share) is looked at on the queue alone, so the poster's thread never holds it.
    observers_.push_back(extension_->addObserver(
        name, [queue = queue_, life = owner_.shareLifetime(), share = this,
               action](const std::string&) {
            queue->post([life, share, action] {
                if (const auto owner = life.lock()) action(*share);
            });
        }));
}

void LocalScreenShare::stopObserving() {
    if (extension_) {
        for (const auto token : observers_) {
            extension_->removeObserver(token);
        }
    }
    observers_.clear();
}

// ---- Start ----

void LocalScreenShare::start(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!owner_.localShareMayStart()) {
        // From the start of a leave on, the leave has told the server and the extension that
        // the local share is over: no share stream is asked for or handed over any more.
        completeLater(std::move(completion), false);
        return;
    }
    const MeetingSession::Token session = owner_.shareSessionToken();
    // Read now: the server replaces the share that stands as it grants this one, and the meeting
    // may hear of that before the extension reports the stream started.
    const bool takesOver = owner_.meetingShowsAnotherShare();
    owner_.requestShareStream([this, session, takesOver, completion = std::move(completion)](
                                  const StreamReply& reply) {
        const bool usable = reply.granted && !reply.token.empty() && reply.uid != 0;
        if (!session.live() || !owner_.localShareMayStart()) {
            // The host app still learns what the server did; the meeting the call was made in
            // is over (or its leave told the extension the share is over), so the stream is
            // neither recorded nor handed to the extension.
            if (completion) completion(usable);
            return;
        }
        if (!usable) {
            // Sharing as uid 0 or without a token would fail inside the engine, unseen.
            logger_.error("Start Screen Share Error ::: " +
                          (reply.granted ? std::string("no usable share stream") : reply.error));
            forceStop(kStartFailedReason);
            if (completion) completion(false);
            return;
        }
        logger_.info("Start Screen Share API Successfull");
        adoptStream(reply.uid, reply.token);
        takesOverAShare_ = takesOver;
        const std::string group = owner_.shareAppGroup();
        if (!group.empty()) {
            if (auto suite = platform::UserDefaults::suite(group, storageDirectory_)) {
                suite->set(kShareUidKey, boost::json::value(reply.uid));
                suite->set(kShareTokenKey, reply.token);
            }
        }
        if (extension_) extension_->post(kCredentialsReadyNotification);
        if (completion) completion(true);
    });
}

void LocalScreenShare::adoptStream(std::uint64_t uid, std::string token) {
    KR_DCHECK_RUN_ON(checker_);
    uid_ = uid;
    token_ = std::move(token);
    endedStreams_.erase(uid);
    takesOverAShare_ = false;
}

void LocalScreenShare::streamStarted() {
    if (!owner_.localShareMayStart() || owner_.shareBypassesServer()) {
        return;  // without the server calls the share messages are not sent
    }
    if (uid_ == 0) {
        // No stream of this meeting is running (never granted, refused, or already ended): a
        // start message now would close the others' whiteboards and shares for nothing.
        logger_.warn("Screen share stream started without a granted stream: ignored");
        return;
    }
    // The share's own stream is usually shown by now, as the local share: only another
    // participant's share is taken over.
    if (!takesOverAShare_ && !owner_.meetingShowsAnotherShare()) {
        owner_.sendShareMessage(KRControlMessage::participantStartScreenShare, {});
        return;
    }
    // The others learn that this share takes over, then that it started, whatever the
    // override's send answered.
    owner_.sendShareMessage(KRControlMessage::screenShareOverride,
                            [this, life = owner_.shareLifetime()](bool) {
                                if (const auto owner = life.lock()) {
                                    owner_.sendShareMessage(
                                        KRControlMessage::participantStartScreenShare, {});
                                }
                            });
}

// ---- Ends ----

void LocalScreenShare::captureStopped() {
    if (uid_ == 0) return;
    if (!owner_.shareBypassesServer()) {
        owner_.sendShareMessage(KRControlMessage::participantStopScreenShare, {});
    }
    end(KRUserLeftReason::leaveMeeting(), Report::now);
}

void LocalScreenShare::stop() {
    KR_DCHECK_RUN_ON(checker_);
    if (uid_ == 0 && !owner_.roomShowsLocalShare()) return;
    if (!owner_.shareBypassesServer()) {
        owner_.sendShareMessage(KRControlMessage::participantStopScreenShare, {});
    }
    tellExtensionToStop("");
    end(KRUserLeftReason::leaveMeeting(), Report::later);
}

void LocalScreenShare::forceStop(const std::string& reason) {
    KR_DCHECK_RUN_ON(checker_);
    tellExtensionToStop(reason);
    end(KRUserLeftReason::leaveMeeting(), Report::now);
}

void LocalScreenShare::leave() {
    KR_DCHECK_RUN_ON(checker_);
    // A share with a stream is ended (at the server too) below; one known only to the room
    // store or to the media backend is ended at the server here.
    const bool sharingWithoutStream =
        uid_ == 0 && (owner_.roomShowsLocalShare() || owner_.backendShowsLocalShare());
    if (sharingWithoutStream && !owner_.shareBypassesServer()) {
        owner_.requestShareStop();
    }
    tellExtensionToStop(kLeftMeetingReason);
    end(KRUserLeftReason::leaveMeeting(), Report::later);
}

bool LocalScreenShare::isOwnStream(std::uint64_t uid) const {
    KR_DCHECK_RUN_ON(checker_);
    return uid != 0 && (uid == uid_ || endedStreams_.count(uid) != 0);
}

bool LocalScreenShare::streamLeft(std::uint64_t uid, const KRUserLeftReason& reason) {
    KR_DCHECK_RUN_ON(checker_);
    if (uid == 0) return false;
    if (uid == uid_) {
        end(reason, Report::now);
        endedStreams_.erase(uid);
        return true;
    }
    // A share that ended first (its capture stopped, or another share took over) leaves its
    // stream behind for a moment: its end was told, and it was never anyone else's.
    return endedStreams_.erase(uid) != 0;
}

void LocalScreenShare::trackShown(const std::shared_ptr<KRScreenShareTrack>& track,
                                  MeetingEvents::Reach reach) {
    KR_DCHECK_RUN_ON(checker_);
    stopToldTo_.reset();
    report(KRScreenShareState::started(track), Report::now, reach);
}

void LocalScreenShare::trackClosed(std::uint64_t uid, MeetingEvents::Reach reach) {
    KR_DCHECK_RUN_ON(checker_);
    if (uid_ != 0 && (uid == uid_ || uid == 0)) {
        // The extension may still be broadcasting and the track come back: the share runs on
        // until it ends in one of its own ways.
        if (stopToldTo_) return;
        stopToldTo_ = reach;
        report(KRScreenShareState::stopped(KRUserLeftReason::leaveMeeting(), uid_), Report::now,
               reach);
        return;
    }
    // Its end was told when the share ended first (its capture stopped, the host stopped it,
    // another share took over): the track the engine closes later is the same share.
    if (endedStreams_.erase(uid) != 0) return;
    report(KRScreenShareState::stopped(KRUserLeftReason::leaveMeeting(), uid), Report::now, reach);
}

void LocalScreenShare::tellExtensionToStop(const std::string& reason) {
    const std::string group = owner_.shareAppGroup();
    if (!group.empty()) {
        if (auto suite = platform::UserDefaults::suite(group, storageDirectory_)) {
            suite->set(kStopReasonKey, reason);
        }
    }
    if (extension_) extension_->post(kForceStopNotification);
}

void LocalScreenShare::end(const KRUserLeftReason& reason, Report when) {
    // Every end of the local share comes through here, whoever ended it, and the first one
    // clears the uid: the server hears of the end once and the host app is told once.
    const std::uint64_t uid = uid_;
    if (uid == 0) return;
    uid_ = 0;
    token_.clear();
    takesOverAShare_ = false;
    endedStreams_.insert(uid);
    if (!owner_.shareBypassesServer()) {
        owner_.requestShareStop();
    }
    // Whoever heard of the stop when the engine closed the share's track is not told twice.
    const auto told = std::exchange(stopToldTo_, std::nullopt);
    const auto stopped = KRScreenShareState::stopped(reason, uid);
    if (!told) {
        report(stopped, when, MeetingEvents::Reach::everyDelegate);
    } else if (*told == MeetingEvents::Reach::mainDelegate) {
        report(stopped, when, MeetingEvents::Reach::extraDelegates);
    }
}

// ---- Reports ----

void LocalScreenShare::report(const KRScreenShareState& state, Report when,
                              MeetingEvents::Reach reach) {
    if (when == Report::now && waitingReports_.empty()) {
        owner_.reportLocalShare(state, reach);
        return;
    }
    // Behind a report still waiting, a report keeps its place.
    waitingReports_.emplace_back(state, reach);
    if (waitingReports_.size() == 1) {
        postWhileOwnerLives([this] { deliverWaitingReports(); });
    }
}

void LocalScreenShare::deliverWaitingReports() {
    // Not while the owner is being destroyed: nobody is left to tell.
    const auto owner = owner_.shareLifetime().lock();
    if (!owner) return;
    auto reports = std::exchange(waitingReports_, {});
    for (const auto& [state, reach] : reports) {
        owner_.reportLocalShare(state, reach);
    }
}

void LocalScreenShare::completeLater(Completion completion, bool value) {
    if (!completion) return;
    postWhileOwnerLives([completion = std::move(completion), value] { completion(value); });
}

void LocalScreenShare::postWhileOwnerLives(std::function<void()> action) {
    queue_->post([life = owner_.shareLifetime(), action = std::move(action)] {
        if (const auto owner = life.lock()) action();
    });
}

}  // namespace kr
