#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/Timer.h"

namespace kr {

/// One join's meeting, from `joinMeeting` until it ended: its state, its timers (the join
/// time-out, the room status polls and the network watchdog) and its safety token.
///
/// Every late reply, timer, engine report and message of a meeting holds the token of the
/// session it belongs to and does nothing once that session ended: a reply of an earlier join
/// that arrives during a newer one holds a token that is no longer live.
///
/// Threading: confined to the client's queue.
class MeetingSession {
public:
    enum class State {
        joining,        ///< server calls of the join under way
        awaitingMedia,  ///< server calls done, the media channel's confirmation awaited
        inMeeting,      ///< the join reached the meeting
        leaving,        ///< a leave was asked (of a meeting, or of a join under way)
        ended,          ///< failed, left or torn down; nothing of it acts any more
    };
    enum class EndReason { joinFailed, left };

    /// What late work holds: live until its session ends.
    class Token {
    public:
        Token() = default;  // belongs to no session: never live
        bool live() const { return !flag_.expired(); }
        /// True when both tokens came from the same session (live or not).
        bool sameSession(const Token& other) const {
            return !flag_.owner_before(other.flag_) && !other.flag_.owner_before(flag_);
        }

    private:
        friend class MeetingSession;
        explicit Token(std::weak_ptr<const bool> flag) : flag_(std::move(flag)) {}
        std::weak_ptr<const bool> flag_;
    };

    explicit MeetingSession(std::shared_ptr<platform::DispatchQueue> queue);
    ~MeetingSession();
    MeetingSession(const MeetingSession&) = delete;
    MeetingSession& operator=(const MeetingSession&) = delete;

    State state() const { return state_; }
    /// Joining or awaiting the media channel.
    bool isJoining() const { return state_ == State::joining || state_ == State::awaitingMedia; }
    /// The join reached the meeting and the session has not ended (a leave under way included).
    bool hasJoined() const { return reachedMeeting_ && state_ != State::ended; }
    bool isActive() const { return state_ != State::ended; }
    Token token() const { return Token(alive_); }
    std::optional<EndReason> endReason() const { return endReason_; }

    /// Runs `onTimeout` after `delay` unless the join reached the meeting, was left or ended.
    void armJoinTimeout(platform::Clock::duration delay, std::function<void()> onTimeout);

    // Transitions; each returns false (and changes nothing) from a state it does not leave.
    bool awaitMedia();    ///< joining -> awaitingMedia
    bool reachMeeting();  ///< joining / awaitingMedia -> inMeeting; the time-out is cancelled
    bool startLeaving();  ///< joining / awaitingMedia / inMeeting -> leaving; likewise

    /// The room status polls: `onGet` and `onPost` every `interval` (replacing earlier ones).
    void startPolling(platform::Clock::duration interval, std::function<void()> onGet,
                      std::function<void()> onPost);
    /// The network watchdog: `onTick` at once, then every `interval` (replacing an earlier one).
    void startWatchdog(platform::Clock::duration interval, std::function<void()> onTick);
    bool hasPollingTimers() const { return pollGet_ && pollPost_; }
    bool hasWatchdog() const { return watchdog_ != nullptr; }

    /// Marks the media engine set up for this session; false when it already was.
    bool markMediaSetUp() { return !std::exchange(mediaSetUp_, true); }

    /// Ends the session once: the token stops being live and the state becomes ended (so
    /// nothing the teardown sets off acts on this session), then its children go: the
    /// time-out and the timers, then `releaseChildren` (the socket, the media backend, ...).
    /// Returns false, doing nothing, when the session had already ended.
    bool end(EndReason reason, const std::function<void()>& releaseChildren = {});

private:
    /// `task` wrapped so that it runs only while the session lives.
    std::function<void()> guarded(std::function<void()> task) const;
    void stopTimers();

    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
    State state_ = State::joining;
    bool reachedMeeting_ = false;
    bool mediaSetUp_ = false;
    std::optional<EndReason> endReason_;
    platform::TaskHandle joinTimeout_;
    std::shared_ptr<platform::Timer> pollGet_;
    std::shared_ptr<platform::Timer> pollPost_;
    std::shared_ptr<platform::Timer> watchdog_;
};

}  // namespace kr
