#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlagSource.h"

namespace kr::test {

/// A scripted reachability flag source: tests set the current flags, make any call fail, and
/// `emit` a change that is delivered like the system would, on the queue the monitor set.
class FakeReachabilityFlagSource final : public ReachabilityFlagSource {
public:
    /// The flags `getFlags` returns from now on.
    void setCurrentFlags(std::uint32_t bits);
    /// Makes the call fail with `code` (std::nullopt: succeed again).
    void failSetCallback(std::optional<std::int32_t> code);
    void failSetDispatchQueue(std::optional<std::int32_t> code);
    void failGetFlags(std::optional<std::int32_t> code);

    /// The system sees new flags: they become current and, when a callback and a queue are set,
    /// the callback is posted to that queue. Returns whether a delivery was posted.
    bool emit(std::uint32_t bits);

    /// Waits until every delivery posted so far has run when they go to a serial queue (whatever
    /// they posted onwards is then queued on the main queue). No wait for any other queue.
    void drain();

    bool hasCallback() const;
    bool hasQueue() const;
    /// The queue deliveries are posted to (null: none set).
    std::shared_ptr<platform::DispatchQueue> deliveryQueue() const;
    int getFlagsCalls() const;

    Result<Unit, std::int32_t> setCallback(Callback callback) override;
    Result<Unit, std::int32_t> setDispatchQueue(
        std::shared_ptr<platform::DispatchQueue> queue) override;
    Result<ReachabilityFlags, std::int32_t> getFlags() override;

private:
    mutable std::mutex mutex_;
    ReachabilityFlags current_;
    Callback callback_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::weak_ptr<platform::DispatchQueue> lastQueue_;  // kept after the monitor clears queue_
    std::optional<std::int32_t> setCallbackFailure_;
    std::optional<std::int32_t> setQueueFailure_;
    std::optional<std::int32_t> getFlagsFailure_;
    int getFlagsCalls_ = 0;
};

}  // namespace kr::test
