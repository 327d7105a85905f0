#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"

#include <utility>


namespace kr {

KivRaneRealTimeLogger2::KivRaneRealTimeLogger2(std::string module,
                                               std::shared_ptr<LogCollector> collector)
    : moduleName_(std::move(module)), collector_(std::move(collector)) {}

void KivRaneRealTimeLogger2::collect(const std::string& message, KivRaneRMLogLevel level) const {
    if (collector_) collector_->collectLogs(message, moduleName_, level);
}

void KivRaneRealTimeLogger2::debug(const std::string& message) {
    collect(message, KivRaneRMLogLevel::DEBUG);
}

void KivRaneRealTimeLogger2::info(const std::string& message) {
    collect(message, KivRaneRMLogLevel::INFO);
}

void KivRaneRealTimeLogger2::warn(const std::string& message) {
    collect(message, KivRaneRMLogLevel::WARN);
}

void KivRaneRealTimeLogger2::error(const std::string& message) {
    collect(message, KivRaneRMLogLevel::ERROR);
}

}  // namespace kr
