#pragma once

#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Logger/LogCollector.h"

namespace kr {

/// A component's logger: tags each message with the component's module name and a level and hands
/// it to its collector (the one given, e.g. `KRDependencies::logCollector`, or else whatever
/// `LogCollector::shared()` is at the time), which alone decides whether it is recorded. Nothing is
/// printed. The level methods may be called from any thread and return at once; `moduleName` is
/// read afresh on every call, and changing it while another thread logs through the same object
/// is not synchronised (components set it once, at construction).
class KivRaneRealTimeLogger2 {
public:
    explicit KivRaneRealTimeLogger2(std::string module,
                                    std::shared_ptr<LogCollector> collector = nullptr);
    virtual ~KivRaneRealTimeLogger2() = default;

    const std::string& moduleName() const { return moduleName_; }
    void setModuleName(std::string moduleName) { moduleName_ = std::move(moduleName); }

    virtual void debug(const std::string& message);
    virtual void info(const std::string& message);
    virtual void warn(const std::string& message);
    virtual void error(const std::string& message);

private:
    void collect(const std::string& message, KivRaneRMLogLevel level) const;

    std::string moduleName_;
    std::shared_ptr<LogCollector> collector_;
};

}  // namespace kr
