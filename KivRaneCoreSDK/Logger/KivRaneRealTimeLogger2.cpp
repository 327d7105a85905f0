#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"

#include <utility>

#include "KivRaneCoreSDK/Logger/LogCollector.h"

namespace kr {

KivRaneRealTimeLogger2::KivRaneRealTimeLogger2(std::string module)
    : moduleName_(std::move(module)) {}

void KivRaneRealTimeLogger2::debug(const std::string& message) {
    LogCollector::shared()->collectLogs(message, moduleName_, KivRaneRMLogLevel::DEBUG);
}

void KivRaneRealTimeLogger2::info(const std::string& message) {
    LogCollector::shared()->collectLogs(message, moduleName_, KivRaneRMLogLevel::INFO);
}

void KivRaneRealTimeLogger2::warn(const std::string& message) {
    LogCollector::shared()->collectLogs(message, moduleName_, KivRaneRMLogLevel::WARN);
}

void KivRaneRealTimeLogger2::error(const std::string& message) {
    LogCollector::shared()->collectLogs(message, moduleName_, KivRaneRMLogLevel::ERROR);
}

}  // namespace kr
