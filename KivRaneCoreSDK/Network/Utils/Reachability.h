#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Common/Result.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityError.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlagSource.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlags.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

/// Name of the notification a monitor posts after every change of its flags (sender: the monitor).
inline constexpr std::string_view kReachabilityChangedNotification = "reachabilityChanged";
/// Older name kept for existing observers; nothing posts it.
inline constexpr std::string_view kReachabilityChangedNotificationLegacy =
    "ReachabilityChangedNotification";

/// Tracks connectivity (none, Wi-Fi-like or cellular) as seen through a
/// `ReachabilityFlagSource`. Whenever the flags change (any bit, and once for the first flags after
/// each start) it calls `whenReachable` or `whenUnreachable` and posts "reachabilityChanged" on its
/// notification centre, as a later task of its queue.
///
/// On Linux the system source derives "reachable" from a usable default route and "cellular" from
/// the outgoing interface's type. Like the platform service it stands in for, it never probes the
/// internet: a default route through a captive portal or a dead upstream still counts as reachable.
///
/// Threading: confined to its queue (the main queue), checked by a sequence check. The flag
/// source delivers changes on that queue (the system source's watcher thread posts them there);
/// flag reads run on the calling task.
class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    /// The kind of link.
    enum class Connection { unavailable, wifi, cellular };
    /// Older status kept beside `Connection`; the monitor does not use it.
    enum class NetworkStatus { notReachable, reachableViaWiFi, reachableViaWWAN };

    using Listener = std::function<void(Reachability&)>;

    /// A monitor over `reachabilityRef`, confined to `queue` (required). Cannot fail.
    static std::shared_ptr<Reachability> create(
        std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
        std::shared_ptr<platform::DispatchQueue> queue);

    /// A monitor of general internet reachability (the zero address) over the system source,
    /// confined to `queue` (required). Fails with `failedToCreateWithAddress` when the system
    /// source cannot be opened.
    static Result<std::shared_ptr<Reachability>, ReachabilityError> create(
        std::shared_ptr<platform::DispatchQueue> queue);

    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    /// The link kind of a flag set: unavailable without the reachable bit; otherwise Wi-Fi when no
    /// connection is required, or when it comes on traffic or demand without intervention; cellular
    /// when the WWAN bit is set (the last rule that applies wins).
    static Connection connection(ReachabilityFlags flags);
    static std::string_view description(Connection connection);
    static std::string_view description(NetworkStatus status);

    void setWhenReachable(Listener listener);
    void setWhenUnreachable(Listener listener);
    /// When false, a cellular link counts as unavailable. Default true.
    void setAllowsCellularConnection(bool allows);
    bool allowsCellularConnection() const;
    /// Where change notifications are posted; a centre of the monitor's own unless changed. The
    /// centre must outlive the monitor.
    void setNotificationCenter(platform::NotificationCenter& center);
    platform::NotificationCenter& notificationCenter() const;

    /// True between a successful `startNotifier()` and the next stop.
    bool notifierRunning() const;
    /// The last flags read; none until the first read.
    std::optional<ReachabilityFlags> flags() const;

    /// Starts delivery of flag changes and reads the current flags (which announces a change).
    /// Does nothing when already running. Every failure leaves the monitor stopped.
    Result<Unit, ReachabilityError> startNotifier();
    /// Stops delivery. Harmless when already stopped.
    void stopNotifier();

    /// The current link kind; reads the flags first when none were read yet (ignoring a failure).
    Connection connection();
    /// The flag text, or "unavailable flags" while no flags have been read.
    std::string description() const;

    std::string currentReachabilityString();
    Connection currentReachabilityStatus();
    bool isReachable();
    bool isReachableViaWWAN();
    bool isReachableViaWiFi();

    Reachability(std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
                 std::shared_ptr<platform::DispatchQueue> queue);

private:
    Result<Unit, ReachabilityError> readFlags();
    void storeFlags(ReachabilityFlags newFlags);
    void announceChange();

    const std::shared_ptr<ReachabilityFlagSource> reachabilityRef_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    platform::SequenceChecker checker_;

    bool allowsCellularConnection_ = true;
    platform::NotificationCenter ownCenter_;
    platform::NotificationCenter* notificationCenter_ = &ownCenter_;
    bool notifierRunning_ = false;
    std::optional<ReachabilityFlags> flags_;
    Listener whenReachable_;
    Listener whenUnreachable_;
};

}  // namespace kr
