#pragma once

#include <functional>
#include <string>

#include "platform/Notifications/NotificationCenter.h"

namespace kr::platform {

/// Stand-in for the system-wide notify centre that links an app with its extensions: notifications
/// carry a name only (no sender, no payload). In this stand-in "system-wide" means process-wide;
/// delivery is synchronous on the posting thread, with the same snapshot rules as
/// `NotificationCenter`. An empty name names nothing: it can be neither observed nor posted.
/// Thread-safe.
class DarwinNotifyCenter {
public:
    using Callback = std::function<void(const std::string& name)>;

    DarwinNotifyCenter() = default;
    DarwinNotifyCenter(const DarwinNotifyCenter&) = delete;
    DarwinNotifyCenter& operator=(const DarwinNotifyCenter&) = delete;

    /// The process-wide centre.
    static DarwinNotifyCenter& shared();

    /// Registers `callback` for `name`; returns the token to remove it (0 for an empty callback).
    ObserverToken addObserver(std::string name, Callback callback);
    void removeObserver(ObserverToken token);
    void post(const std::string& name);

private:
    NotificationCenter center_;
};

}  // namespace kr::platform
