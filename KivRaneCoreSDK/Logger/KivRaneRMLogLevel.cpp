#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using L = KivRaneRMLogLevel;
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>({L::DEBUG, L::INFO, L::WARN, L::ERROR});
}  // namespace

std::optional<KivRaneRMLogLevel> kivRaneRMLogLevelFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
