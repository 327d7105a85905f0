#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Common/Result.h"
#include "platform/Dispatch/DispatchQueue.h"

namespace kr::platform {

/// The system's view of whether the device can reach the network, read from the kernel's routing
/// state over rtnetlink (links, addresses, routes).
///
/// "Reachable" means a usable default route exists: a unicast default route in the main (or
/// default) table whose outgoing interface is up, running, not loopback, and holds an address of
/// the route's family (IPv6: global scope, not tentative). The route with the lowest metric wins.
/// "Cellular" is read from that interface in sysfs: a "DEVTYPE=wwan" uevent, the raw-IP link type,
/// or a mobile-broadband name ("ww*", "rmnet*"). Nothing is sent to the internet: a default route
/// behind a captive portal or a dead upstream still counts as reachable.
///
/// Threading: read() from any thread (each read uses a socket of its own). start() runs a watcher
/// thread that re-reads the state after each burst of routing events and posts the callback to the
/// given queue when the state changed; after stop() returns no further callback runs.
class NetlinkReachability {
public:
    struct State {
        bool reachable = false;
        bool cellular = false;
        std::string interfaceName;  ///< outgoing interface of the chosen default route
        friend bool operator==(const State&, const State&) = default;
    };

    /// One network interface as the kernel lists it.
    struct Link {
        int index = 0;
        std::string name;
        unsigned flags = 0;  ///< IFF_* bits
    };
    /// One interface address.
    struct Address {
        int index = 0;
        int family = 0;
        unsigned scope = 0;
        std::uint32_t flags = 0;  ///< IFA_F_* bits
    };
    /// One route.
    struct Route {
        int family = 0;
        unsigned destinationLength = 0;
        unsigned type = 0;  ///< RTN_* value
        std::uint32_t table = 0;
        std::uint32_t priority = 0;
        int outputIndex = 0;  ///< 0 when the route names no interface (e.g. a nexthop object)
    };
    struct Snapshot {
        std::vector<Link> links;
        std::vector<Address> addresses;
        std::vector<Route> routes;
    };

    using CellularTest = std::function<bool(const std::string& interfaceName)>;
    using Callback = std::function<void(const State&)>;

    /// Fails with an errno value when no rtnetlink socket can be opened.
    static Result<std::shared_ptr<NetlinkReachability>, int> create(
        std::string sysfsNetRoot = "/sys/class/net");
    ~NetlinkReachability();
    NetlinkReachability(const NetlinkReachability&) = delete;
    NetlinkReachability& operator=(const NetlinkReachability&) = delete;

    /// Reads the current state; an errno value on failure.
    Result<State, int> read() const;

    /// Starts watching; `callback` runs on `queue` after each change. Restarts when running.
    Result<Unit, int> start(std::shared_ptr<DispatchQueue> queue, Callback callback);
    /// Stops watching. Harmless when stopped. Never call from the callback's queue while that
    /// queue is blocked on something the watcher needs (it does not need any queue).
    void stop();

    /// Dumps links, addresses and routes from the kernel.
    static Result<Snapshot, int> dump();
    /// The state a snapshot describes; `isCellular` classifies the chosen interface.
    static State evaluate(const Snapshot& snapshot, const CellularTest& isCellular);
    /// Whether the interface `name` under `sysfsNetRoot` is a mobile-broadband one.
    static bool isCellularInterface(const std::string& sysfsNetRoot, const std::string& name);

    explicit NetlinkReachability(std::string sysfsNetRoot);

private:
    void watch(int socketFd, int wakeFd, std::shared_ptr<DispatchQueue> queue, Callback callback,
               std::shared_ptr<std::atomic<bool>> active);
    void stopLocked();

    const std::string sysfsNetRoot_;
    std::mutex mutex_;  // guards the watcher fields below
    std::thread watcher_;
    int wakeFd_ = -1;
    std::shared_ptr<std::atomic<bool>> active_;
};

}  // namespace kr::platform
