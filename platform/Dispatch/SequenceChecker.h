#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "platform/Dispatch/DispatchQueue.h"

#if defined(KR_SEQUENCE_CHECKS) || !defined(NDEBUG)
#define KR_SEQUENCE_CHECKS_ACTIVE 1
#else
#define KR_SEQUENCE_CHECKS_ACTIVE 0
#endif

namespace kr::platform {

/// Debug check that an object is used from one sequence only. Two kinds of caller count as the
/// sequence: any task of the queue the checker was bound to (whatever thread runs that queue),
/// and the one thread that first calls `isCurrent()` outside such a task (the host thread that
/// builds the object and runs its main queue). Everything else is a misuse.
/// Active in debug builds and wherever `KR_SEQUENCE_CHECKS` is defined (the test build);
/// elsewhere it costs nothing and `isCurrent()` is always true.
class SequenceChecker {
public:
    /// Bound to no queue: the first thread that asks owns the object.
    SequenceChecker() = default;
    /// Tasks of `queue` also count as the sequence.
    explicit SequenceChecker(std::shared_ptr<const DispatchQueue> queue) : queue_(std::move(queue)) {}

    bool isCurrent() const {
#if !KR_SEQUENCE_CHECKS_ACTIVE
        return true;
#else
        if (queue_ && queue_->isCurrent()) return true;
        const auto self = std::this_thread::get_id();
        std::thread::id expected{};
        if (owner_.compare_exchange_strong(expected, self)) return true;
        return expected == self;
#endif
    }

    /// Lets the next caller outside the queue's tasks take the object over (e.g. after it was
    /// built on one thread and handed to another before first use).
    void detach() { owner_.store(std::thread::id{}); }

private:
    std::shared_ptr<const DispatchQueue> queue_;
    mutable std::atomic<std::thread::id> owner_{};
};

/// Reports a call outside the checked sequence and ends the process.
[[noreturn]] inline void sequenceCheckFailed(const char* checker, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: called outside the sequence of %s\n", file, line, checker);
    std::abort();
}

}  // namespace kr::platform

/// Checks, where sequence checks are active, that the call runs on the checker's sequence.
#if KR_SEQUENCE_CHECKS_ACTIVE
#define KR_DCHECK_RUN_ON(checker)                                                     \
    ((checker).isCurrent() ? static_cast<void>(0)                                     \
                           : ::kr::platform::sequenceCheckFailed(#checker, __FILE__, __LINE__))
#else
#define KR_DCHECK_RUN_ON(checker) static_cast<void>(0)
#endif
