#include "platform/Dispatch/MainQueue.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/Dispatch/QueueCore.h"

namespace kr::platform {

namespace {

// Longest sleep of runUntil between two looks at its predicate, for predicates that change
// without anything being posted.
constexpr auto kPredicatePollInterval = std::chrono::milliseconds(5);

const std::shared_ptr<MainQueue>& processMainQueue() {
    // Never destroyed: library objects may still post to it while the process exits.
    static const auto* const queue = new std::shared_ptr<MainQueue>(MainQueue::create());
    return *queue;
}

}  // namespace

MainQueue::MainQueue(std::shared_ptr<Clock> clock) : DispatchQueue("main", std::move(clock)) {}

std::shared_ptr<MainQueue> MainQueue::create(std::shared_ptr<Clock> clock) {
    return std::make_shared<MainQueue>(std::move(clock));
}

std::shared_ptr<MainQueue> MainQueue::current() {
    return processMainQueue();
}

void MainQueue::run() {
    const auto& c = core();
    while (!c->takeStop()) {
        if (!c->runOneDue()) {
            c->wait(std::nullopt);
        }
    }
}

void MainQueue::runFor(Clock::duration wallTime) {
    const auto deadline = std::chrono::steady_clock::now() + wallTime;
    const auto& c = core();
    while (!c->takeStop() && std::chrono::steady_clock::now() < deadline) {
        if (!c->runOneDue()) {
            c->wait(deadline);
        }
    }
}

bool MainQueue::runUntil(const std::function<bool()>& done, Clock::duration wallTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + wallTimeout;
    const auto& c = core();
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (c->takeStop() || now >= deadline) {
            return done();
        }
        if (!c->runOneDue()) {
            c->wait(std::min(deadline, now + kPredicatePollInterval));
        }
    }
    return true;
}

std::size_t MainQueue::runPending() {
    std::size_t count = 0;
    while (core()->runOneDue()) {
        ++count;
    }
    return count;
}

void MainQueue::stop() {
    core()->requestStop();
}

MainQueue& mainQueue() {
    return *MainQueue::current();
}

}  // namespace kr::platform
