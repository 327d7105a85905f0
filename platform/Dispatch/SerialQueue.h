#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SteadyClock.h"

namespace kr::platform {

/// A serial background queue with its own worker thread.
///
/// Threading: post from any thread. Destroying the queue stops the worker after the task in
/// progress and drops pending tasks; destroying it from one of its own tasks is allowed (the
/// worker then ends on its own once that task returns).
class SerialQueue final : public DispatchQueue {
public:
    static std::shared_ptr<SerialQueue> create(
        std::string label, std::shared_ptr<Clock> clock = SteadyClock::instance());
    ~SerialQueue() override;

    /// Runs `task` on the queue and waits for it. Called from the queue itself, it runs the task
    /// inline rather than deadlock.
    void sync(Task task);

    SerialQueue(std::string label, std::shared_ptr<Clock> clock);

private:
    std::thread worker_;
};

}  // namespace kr::platform
