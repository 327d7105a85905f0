#pragma once

#include <memory>

#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlagSource.h"
#include "platform/Reachability/NetlinkReachability.h"

namespace kr {

/// The device's own reachability, from the kernel's routing state (see
/// `platform::NetlinkReachability`): a usable default route gives the reachable flag, a
/// mobile-broadband outgoing interface adds the WWAN flag. No other flag is ever set, and no
/// traffic is sent to test the route.
///
/// Threading: used from its monitor's queue only. Watching runs while both a callback and a queue
/// are set; the watcher thread only posts each change to that queue.
class SystemReachabilityFlagSource final : public ReachabilityFlagSource {
public:
    /// Fails with an errno value when the routing state cannot be opened.
    static Result<std::shared_ptr<SystemReachabilityFlagSource>, std::int32_t> create();

    /// The flags a routing state stands for.
    static ReachabilityFlags flagsFor(const platform::NetlinkReachability::State& state);

    Result<Unit, std::int32_t> setCallback(Callback callback) override;
    Result<Unit, std::int32_t> setDispatchQueue(
        std::shared_ptr<platform::DispatchQueue> queue) override;
    Result<ReachabilityFlags, std::int32_t> getFlags() override;

    explicit SystemReachabilityFlagSource(std::shared_ptr<platform::NetlinkReachability> system);

private:
    Result<Unit, std::int32_t> reconcile();

    const std::shared_ptr<platform::NetlinkReachability> system_;
    Callback callback_;
    std::shared_ptr<platform::DispatchQueue> queue_;
};

}  // namespace kr
