#include "KivRaneCoreSDK/Meeting/MeetingSession.h"

namespace kr {

namespace {
void invalidate(std::shared_ptr<platform::Timer>& timer) {
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
}
}  // namespace

MeetingSession::MeetingSession(std::shared_ptr<platform::DispatchQueue> queue)
    : queue_(std::move(queue)) {}

MeetingSession::~MeetingSession() {
    // Gone with its client: nothing it scheduled may run.
    joinTimeout_.cancel();
    stopTimers();
}

std::function<void()> MeetingSession::guarded(std::function<void()> task) const {
    return [token = token(), task = std::move(task)] {
        if (token.live()) task();
    };
}

void MeetingSession::armJoinTimeout(platform::Clock::duration delay,
                                    std::function<void()> onTimeout) {
    joinTimeout_.cancel();
    joinTimeout_ = queue_->postAfter(delay, guarded([this, onTimeout = std::move(onTimeout)] {
        // The token being live means this session still exists.
        if (isJoining()) onTimeout();
    }));
}

bool MeetingSession::awaitMedia() {
    if (state_ != State::joining) return false;
    state_ = State::awaitingMedia;
    return true;
}

bool MeetingSession::reachMeeting() {
    if (!isJoining()) return false;
    joinTimeout_.cancel();
    state_ = State::inMeeting;
    reachedMeeting_ = true;
    return true;
}

bool MeetingSession::startLeaving() {
    if (!isJoining() && state_ != State::inMeeting) return false;
    // A join still under way is abandoned, not failed: no time-out may end it any more.
    joinTimeout_.cancel();
    state_ = State::leaving;
    return true;
}

void MeetingSession::startPolling(platform::Clock::duration interval, std::function<void()> onGet,
                                  std::function<void()> onPost) {
    invalidate(pollGet_);
    invalidate(pollPost_);
    pollGet_ = platform::Timer::schedule(queue_, interval, true,
                                         [run = guarded(std::move(onGet))](auto&) { run(); });
    pollPost_ = platform::Timer::schedule(queue_, interval, true,
                                          [run = guarded(std::move(onPost))](auto&) { run(); });
}

void MeetingSession::startWatchdog(platform::Clock::duration interval,
                                   std::function<void()> onTick) {
    // A second watchdog would double every socket start and stop.
    invalidate(watchdog_);
    watchdog_ = platform::Timer::schedule(queue_, interval, true,
                                          [run = guarded(std::move(onTick))](auto&) { run(); });
    watchdog_->fire();
}

void MeetingSession::stopTimers() {
    invalidate(pollGet_);
    invalidate(pollPost_);
    invalidate(watchdog_);
}

bool MeetingSession::end(EndReason reason, const std::function<void()>& releaseChildren) {
    if (state_ == State::ended) return false;
    // Over first: whatever the teardown below sets off (an engine that reports its leave at
    // once, a socket hook) meets an ended session and a dead token.
    alive_.reset();
    state_ = State::ended;
    endReason_ = reason;
    joinTimeout_.cancel();
    stopTimers();
    if (releaseChildren) releaseChildren();
    return true;
}

}  // namespace kr
