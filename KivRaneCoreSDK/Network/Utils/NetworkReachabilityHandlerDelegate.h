#pragma once

namespace kr {

/// Something that wants to know whether the device is online (the network clients).
/// Registered weakly with `NetworkReachabilityHandler`; called on the main queue, once per
/// reachability change, also when the reported value equals the previous one.
class NetworkReachabilityHandlerDelegate {
public:
    virtual ~NetworkReachabilityHandlerDelegate() = default;
    virtual void didNetworkStateChanged(bool isConnected) = 0;
};

}  // namespace kr
