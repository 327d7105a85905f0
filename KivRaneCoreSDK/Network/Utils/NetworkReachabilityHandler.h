#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Common/Result.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandlerDelegate.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

class Reachability;
struct ReachabilityError;

/// Connectivity hub (one process-wide by default): owns one reachability monitor for general
/// internet reachability, listens to its "reachabilityChanged" notification on a centre of its
/// own and reports connected / not connected to every registered delegate on the main queue.
///
/// Delegates are held weakly: a destroyed delegate receives nothing and its entry is pruned.
/// Threading: confined to the main queue, like the clients that register with it (checked in
/// debug builds). The fan-out calls delegates from a snapshot, so a delegate may register or
/// remove others while it is being told.
class NetworkReachabilityHandler : public std::enable_shared_from_this<NetworkReachabilityHandler> {
public:
    using MonitorFactory =
        std::function<Result<std::shared_ptr<Reachability>, ReachabilityError>()>;

    /// The process handler, made once on first use and never released. It watches the system's
    /// network state (see `SystemReachabilityFlagSource`) on the process main queue.
    static const std::shared_ptr<NetworkReachabilityHandler>& shared();

    /// A handler of its own (tests); `factory` makes the monitor at every `startObserving()`.
    /// `queue`, when given, is the main queue the handler is confined to.
    static std::shared_ptr<NetworkReachabilityHandler> create(
        MonitorFactory factory, std::shared_ptr<const platform::DispatchQueue> queue = nullptr);

    /// (Re)creates and starts the monitor. Creation and start failures are swallowed: delegates
    /// then hear nothing until a later successful call. Waits for the monitor's first flag read;
    /// the first report follows on the main queue.
    void startObserving();

    /// Handler of the monitor's "reachabilityChanged" notification (main queue): reads the current
    /// monitor's connection and calls every live delegate with connected (Wi-Fi or cellular) or
    /// not. A notification from any other sender is ignored.
    void reachabilityChanged(const platform::Notification& note);

    /// Stores `delegate` under `identifier`, replacing an earlier entry with that identifier.
    void addDelegates(std::weak_ptr<NetworkReachabilityHandlerDelegate> delegate,
                      const std::string& identifier);
    /// Forgets the entry under `identifier`; that delegate receives no further reports.
    void removeDelegate(const std::string& identifier);

    /// Number of entries whose delegate is still alive.
    std::size_t delegateCount() const;

    ~NetworkReachabilityHandler();
    NetworkReachabilityHandler(const NetworkReachabilityHandler&) = delete;
    NetworkReachabilityHandler& operator=(const NetworkReachabilityHandler&) = delete;

private:
    NetworkReachabilityHandler(MonitorFactory factory,
                               std::shared_ptr<const platform::DispatchQueue> queue);
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kr
