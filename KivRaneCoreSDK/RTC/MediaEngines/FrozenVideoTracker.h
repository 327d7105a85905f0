#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "KivRaneCoreSDK/Model/Media/KRRtcVideoFrozenData.h"
#include "platform/Dispatch/Clock.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr {

/// The engine wrappers' record of remote videos seen frozen. A freeze is only worth reporting as
/// a muted video when it lasts: the owner's check runs 4 s after a uid first froze and takes the
/// uids frozen for at least 3.5 s by then, each once. A record goes when the uid's video decodes,
/// stops or fails again, when the uid leaves, or when the meeting state is cleared.
///
/// Threading: confined to the owner's queue. The check closure must hold the owner weakly.
class FrozenVideoTracker {
public:
    static constexpr std::chrono::milliseconds kCheckDelay{4000};
    static constexpr std::chrono::milliseconds kMinimumAge{3500};

    FrozenVideoTracker() = default;
    ~FrozenVideoTracker() { clear(); }
    FrozenVideoTracker(const FrozenVideoTracker&) = delete;
    FrozenVideoTracker& operator=(const FrozenVideoTracker&) = delete;

    /// Whether a frozen state with this engine reason says nothing about the sender (congestion,
    /// recovery from the audio-only fallback), so it is not recorded.
    static bool isTransientReason(int reason);

    /// Records `uid` as frozen now and schedules `check` on `queue`; false (and nothing done)
    /// when the uid is already recorded.
    bool freeze(platform::DispatchQueue& queue, std::uint64_t uid, std::function<void()> check);
    void remove(std::uint64_t uid);
    /// Forgets every record and drops the scheduled checks.
    void clear();

    /// The recorded uids frozen for at least the minimum age at `now` and not yet reported.
    std::vector<std::uint64_t> due(platform::Clock::time_point now) const;
    /// `uid` has been reported muted; it is not due again while it stays frozen.
    void markReported(std::uint64_t uid);

    std::vector<KRRtcVideoFrozenData> records() const;

private:
    struct Record {
        KRRtcVideoFrozenData data;
        bool reportedMuted = false;
    };

    std::vector<Record> records_;
    std::vector<platform::TaskHandle> checks_;
};

}  // namespace kr
