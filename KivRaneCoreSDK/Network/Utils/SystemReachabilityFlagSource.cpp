#include "KivRaneCoreSDK/Network/Utils/SystemReachabilityFlagSource.h"

#include <utility>

namespace kr {

SystemReachabilityFlagSource::SystemReachabilityFlagSource(
    std::shared_ptr<platform::NetlinkReachability> system)
    : system_(std::move(system)) {}

Result<std::shared_ptr<SystemReachabilityFlagSource>, std::int32_t>
SystemReachabilityFlagSource::create() {
    auto system = platform::NetlinkReachability::create();
    if (!system.ok()) {
        return Failure{system.error()};
    }
    return std::make_shared<SystemReachabilityFlagSource>(std::move(system.value()));
}

ReachabilityFlags SystemReachabilityFlagSource::flagsFor(
    const platform::NetlinkReachability::State& state) {
    ReachabilityFlags flags;
    if (state.reachable) {
        flags.bits |= ReachabilityFlags::reachable;
        if (state.cellular) {
            flags.bits |= ReachabilityFlags::isWWAN;
        }
    }
    return flags;
}

Result<Unit, std::int32_t> SystemReachabilityFlagSource::setCallback(Callback callback) {
    callback_ = std::move(callback);
    return reconcile();
}

Result<Unit, std::int32_t> SystemReachabilityFlagSource::setDispatchQueue(
    std::shared_ptr<platform::DispatchQueue> queue) {
    queue_ = std::move(queue);
    return reconcile();
}

Result<ReachabilityFlags, std::int32_t> SystemReachabilityFlagSource::getFlags() {
    auto state = system_->read();
    if (!state.ok()) {
        return Failure{state.error()};
    }
    return flagsFor(state.value());
}

Result<Unit, std::int32_t> SystemReachabilityFlagSource::reconcile() {
    if (!callback_ || !queue_) {
        system_->stop();
        return Unit{};
    }
    auto callback = callback_;
    return system_->start(queue_, [callback](const platform::NetlinkReachability::State& state) {
        callback(flagsFor(state));
    });
}

}  // namespace kr
