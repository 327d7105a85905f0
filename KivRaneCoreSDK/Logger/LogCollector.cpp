#include "KivRaneCoreSDK/Logger/LogCollector.h"

#include <utility>

#include "platform/Common/ProcessWide.h"

namespace kr {

namespace {

// Drops every message: the destination until a real collector is installed.
class DiscardingCollector final : public LogCollector {
public:
    void collectLogs(const std::string&, const std::string&, KivRaneRMLogLevel) override {}
};

platform::ProcessWide<LogCollector>& installed() {
    // Never destroyed: components may log during static destruction.
    static auto* slot = new platform::ProcessWide<LogCollector>(
        [] { return std::make_shared<DiscardingCollector>(); });
    return *slot;
}

}  // namespace

LogCollector::~LogCollector() = default;

std::shared_ptr<LogCollector> LogCollector::shared() {
    return installed().get();
}

void LogCollector::setShared(std::shared_ptr<LogCollector> collector) {
    // Nothing installed means the discarding collector again; the previous collector is
    // released here, outside the slot's lock.
    installed().install(std::move(collector));
}

}  // namespace kr
