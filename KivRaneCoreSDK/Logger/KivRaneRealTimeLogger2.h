#pragma once

#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Logger/LogCollector.h"

namespace kr {

/// Per-component front end of the log collector: each call labels the text with the
/// component's name and a severity and passes it on to the collector given (e.g.
/// `KRDependencies::logCollector`); without one the messages are dropped.
/// The collector decides what is kept; nothing is printed. Calls are cheap and safe from any
/// thread. Set the module name once, before other threads use the object: it is not guarded.
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
