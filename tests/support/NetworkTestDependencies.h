#pragma once

#include <memory>
#include <utility>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Http/HttpTransport.h"

namespace kr::test {

/// What a network client under test runs on: the test's own queue, routing to a local server, and
/// a reachability handler of its own that never reports (connectivity is then driven by calling
/// `didNetworkStateChanged` directly). Nothing process-wide is read or changed.
inline KRDependencies networkDependencies(std::shared_ptr<platform::DispatchQueue> queue,
                                          platform::HttpRouting routing) {
    KRDependencies dependencies;
    dependencies.queue = std::move(queue);
    dependencies.routing = std::move(routing);
    dependencies.reachability = NetworkReachabilityHandler::create({});
    return dependencies;
}

}  // namespace kr::test
