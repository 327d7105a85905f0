#pragma once

#include <memory>

#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityError.h"

namespace kr::test {

/// A reachability handler that watches nothing and reports nothing, so a client on loopback does
/// not share the process handler and is never told it is offline.
inline std::shared_ptr<NetworkReachabilityHandler> quietReachability() {
    return NetworkReachabilityHandler::create(
        []() -> Result<std::shared_ptr<Reachability>, ReachabilityError> {
            return Failure{ReachabilityError{}};
        });
}

}  // namespace kr::test
