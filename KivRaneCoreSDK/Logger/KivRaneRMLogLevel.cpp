#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"

namespace kr {

std::optional<KivRaneRMLogLevel> kivRaneRMLogLevelFromRaw(std::int64_t raw) {
    switch (raw) {
        case 1:
            return KivRaneRMLogLevel::DEBUG;
        case 2:
            return KivRaneRMLogLevel::INFO;
        case 3:
            return KivRaneRMLogLevel::WARN;
        case 4:
            return KivRaneRMLogLevel::ERROR;
        default:
            return std::nullopt;
    }
}

}  // namespace kr
