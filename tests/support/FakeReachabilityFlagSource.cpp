#include "support/FakeReachabilityFlagSource.h"

#include <utility>

#include "platform/Dispatch/SerialQueue.h"

namespace kr::test {

void FakeReachabilityFlagSource::setCurrentFlags(std::uint32_t bits) {
    std::lock_guard lock(mutex_);
    current_.bits = bits;
}

void FakeReachabilityFlagSource::failSetCallback(std::optional<std::int32_t> code) {
    std::lock_guard lock(mutex_);
    setCallbackFailure_ = code;
}

void FakeReachabilityFlagSource::failSetDispatchQueue(std::optional<std::int32_t> code) {
    std::lock_guard lock(mutex_);
    setQueueFailure_ = code;
}

void FakeReachabilityFlagSource::failGetFlags(std::optional<std::int32_t> code) {
    std::lock_guard lock(mutex_);
    getFlagsFailure_ = code;
}

bool FakeReachabilityFlagSource::emit(std::uint32_t bits) {
    Callback callback;
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        current_.bits = bits;
        callback = callback_;
        queue = queue_;
    }
    if (!callback || !queue) {
        return false;
    }
    queue->post([callback, flags = ReachabilityFlags{bits}] { callback(flags); });
    return true;
}

void FakeReachabilityFlagSource::drain() {
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = lastQueue_.lock();
    }
    if (auto serial = std::dynamic_pointer_cast<platform::SerialQueue>(queue)) {
        serial->sync([] {});
    }
}

bool FakeReachabilityFlagSource::hasCallback() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(callback_);
}

bool FakeReachabilityFlagSource::hasQueue() const {
    std::lock_guard lock(mutex_);
    return queue_ != nullptr;
}

std::shared_ptr<platform::DispatchQueue> FakeReachabilityFlagSource::deliveryQueue() const {
    std::lock_guard lock(mutex_);
    return queue_;
}

int FakeReachabilityFlagSource::getFlagsCalls() const {
    std::lock_guard lock(mutex_);
    return getFlagsCalls_;
}

Result<Unit, std::int32_t> FakeReachabilityFlagSource::setCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    if (callback && setCallbackFailure_) {
        return Failure{*setCallbackFailure_};
    }
    callback_ = std::move(callback);
    return Unit{};
}

Result<Unit, std::int32_t> FakeReachabilityFlagSource::setDispatchQueue(
    std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    if (queue && setQueueFailure_) {
        return Failure{*setQueueFailure_};
    }
    if (queue) {
        lastQueue_ = queue;
    }
    queue_ = std::move(queue);
    return Unit{};
}

Result<ReachabilityFlags, std::int32_t> FakeReachabilityFlagSource::getFlags() {
    std::lock_guard lock(mutex_);
    ++getFlagsCalls_;
    if (getFlagsFailure_) {
        return Failure{*getFlagsFailure_};
    }
    return current_;
}

}  // namespace kr::test
