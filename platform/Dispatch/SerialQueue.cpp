#include "platform/Dispatch/SerialQueue.h"

#include <pthread.h>

#include <future>
#include <utility>

#include "platform/Dispatch/QueueCore.h"

namespace kr::platform {

namespace {

void nameThisThread(const std::string& label) {
    // Linux limits thread names to 15 characters.
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}

}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label, std::shared_ptr<Clock> clock) {
    return std::make_shared<SerialQueue>(std::move(label), std::move(clock));
}

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock)
    : DispatchQueue(std::move(label), std::move(clock)) {
    // The worker owns the core, not the queue object, so it may finish the task in hand after
    // the queue object is gone (when a task destroys its own queue).
    worker_ = std::thread([core = core(), name = this->label()] {
        nameThisThread(name);
        while (!core->isShutdown()) {
            if (!core->runOneDue()) {
                core->wait(std::nullopt);
            }
        }
    });
}

SerialQueue::~SerialQueue() {
    core()->shutdown();
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();  // destroyed by one of its own tasks; the worker ends after it returns
    } else if (worker_.joinable()) {
        worker_.join();
    }
}

void SerialQueue::sync(Task task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> finished;
    auto future = finished.get_future();
    post([&task, &finished] {
        task();
        finished.set_value();
    });
    future.wait();
}

}  // namespace kr::platform
