#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr {

/// The engine wrappers' answer to a refused request to become broadcaster (the channel had too
/// many): try again after 0.5 s, 2 s and 5 s, and at the fourth refusal give up, so the caller
/// can move the user to the audience. Only a success (`reset`) starts a fresh series: after a
/// give-up every further refusal gives up at once. A scheduled retry is the owner's to drop
/// (`cancel`) as soon as the user is to stay in the audience.
///
/// Threading: confined to the owner's queue.
class ClientRoleRetry {
public:
    static constexpr std::array<std::chrono::milliseconds, 3> kDelays = {
        std::chrono::milliseconds(500), std::chrono::milliseconds(2000),
        std::chrono::milliseconds(5000)};

    ClientRoleRetry() = default;
    ~ClientRoleRetry() { cancel(); }
    ClientRoleRetry(const ClientRoleRetry&) = delete;
    ClientRoleRetry& operator=(const ClientRoleRetry&) = delete;

    /// Counts one refusal: schedules `switchRole(false)` (ask to be broadcaster again) on
    /// `queue`, or gives up and calls `switchRole(true)` (audience) at once. `switchRole` must
    /// hold the owner weakly; the retry itself dies with this object.
    void refused(platform::DispatchQueue& queue, std::function<void(bool isAudience)> switchRole);
    /// Drops a scheduled retry; the count stays.
    void cancel();
    /// Drops a scheduled retry and starts a fresh series.
    void reset();
    /// The engine confirmed a role change: as a broadcaster the series starts afresh
    /// (`reset`), as audience a scheduled retry is dropped (`cancel`).
    void roleChanged(bool isBroadcaster) { isBroadcaster ? reset() : cancel(); }

    /// Refusals since the last success.
    std::int64_t counter() const { return counter_; }
    /// The wait before the latest scheduled retry.
    std::chrono::milliseconds interval() const { return interval_; }
    bool isScheduled() const { return scheduled_; }

private:
    std::int64_t counter_ = 0;
    std::chrono::milliseconds interval_{0};
    platform::TaskHandle task_;
    bool scheduled_ = false;
};

}  // namespace kr
