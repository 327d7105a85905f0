#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Common/Result.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlags.h"
#include "platform/Dispatch/DispatchQueue.h"

namespace kr {

/// Where a `Reachability` monitor gets its flags from: the system's network state on a real
/// device (`SystemReachabilityFlagSource`), a scripted source in tests.
///
/// Contract: once both a callback and a dispatch queue are set, the source calls the callback on
/// that queue with the new flags whenever its view of the network changes (it may also call it
/// with unchanged flags; the monitor filters those). Clearing either stops delivery. Errors are
/// reported as error codes. The monitor calls every method from its own queue, which it also
/// sets as the delivery queue.
class ReachabilityFlagSource {
public:
    using Callback = std::function<void(ReachabilityFlags)>;

    virtual ~ReachabilityFlagSource() = default;

    /// Sets the change callback; an empty callback clears it.
    virtual Result<Unit, std::int32_t> setCallback(Callback callback) = 0;
    /// Sets the queue changes are delivered on; null clears it.
    virtual Result<Unit, std::int32_t> setDispatchQueue(
        std::shared_ptr<platform::DispatchQueue> queue) = 0;
    /// Reads the current flags now, on the calling thread.
    virtual Result<ReachabilityFlags, std::int32_t> getFlags() = 0;
};

}  // namespace kr
