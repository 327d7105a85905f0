#include "KivRaneCoreSDK/Logger/LogCollector.h"

#include <mutex>
#include <utility>

namespace kr {

namespace {

// Drops every message: the destination until a real collector is installed.
class DiscardingCollector final : public LogCollector {
public:
    void collectLogs(const std::string&, const std::string&, KivRaneRMLogLevel) override {}
};

struct Installed {
    std::mutex mutex;
    std::shared_ptr<LogCollector> collector;
};

Installed& installed() {
    // Never destroyed: components may log during static destruction.
    static auto* slot = new Installed{{}, std::make_shared<DiscardingCollector>()};
    return *slot;
}

}  // namespace

LogCollector::~LogCollector() = default;

std::shared_ptr<LogCollector> LogCollector::shared() {
    std::lock_guard lock(installed().mutex);
    return installed().collector;
}

void LogCollector::setShared(std::shared_ptr<LogCollector> collector) {
    if (!collector) {
        collector = std::make_shared<DiscardingCollector>();
    }
    std::shared_ptr<LogCollector> previous;  // released after unlocking
    std::lock_guard lock(installed().mutex);
    previous = std::exchange(installed().collector, std::move(collector));
}

}  // namespace kr
