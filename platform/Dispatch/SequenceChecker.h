#pragma once

#include <atomic>
#include <cassert>
#include <thread>

namespace kr::platform {

/// Debug check that an object is used from one sequence only: the first thread that calls
/// `isCurrent()` owns it until `detach()`. Library objects live on the main queue, and the thread
/// that runs the main queue is the one that makes host calls, so "one thread" is the contract.
/// Costs nothing in release builds (NDEBUG), where `isCurrent()` is always true.
class SequenceChecker {
public:
    bool isCurrent() const {
#ifdef NDEBUG
        return true;
#else
        const auto self = std::this_thread::get_id();
        std::thread::id expected{};
        if (owner_.compare_exchange_strong(expected, self)) return true;
        return expected == self;
#endif
    }

    /// Lets the next caller take the object over (e.g. after it was handed to another thread
    /// before first use).
    void detach() { owner_.store(std::thread::id{}); }

private:
    mutable std::atomic<std::thread::id> owner_{};
};

}  // namespace kr::platform

/// Asserts, in debug builds, that the call runs on the checker's sequence.
#define KR_DCHECK_RUN_ON(checker) assert((checker).isCurrent())
