#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"

namespace kr {

/// The destination of every component logger's messages: the process-wide remote log collector
/// plugs in here. Until one is installed, `shared()` is a collector that drops everything.
/// Threading: `shared()` and `setShared()` may be called from any thread; implementations of
/// `collectLogs` must accept calls from any thread and return quickly.
class LogCollector {
public:
    virtual ~LogCollector();

    /// Hands one message of the component `moduleName` to the collector, which decides whether
    /// it is recorded.
    virtual void collectLogs(const std::string& message, const std::string& moduleName,
                             KivRaneRMLogLevel level) = 0;

    /// The installed collector, or a no-op collector when none is installed. Never null.
    static std::shared_ptr<LogCollector> shared();
    /// Installs `collector` as the process-wide collector; null restores the no-op collector.
    static void setShared(std::shared_ptr<LogCollector> collector);
};

}  // namespace kr
