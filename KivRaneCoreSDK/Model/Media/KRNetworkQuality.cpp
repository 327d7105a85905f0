#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using Q = KRNetworkQuality;
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>({Q::good, Q::low, Q::bad, Q::detecting});
}  // namespace

std::optional<KRNetworkQuality> krNetworkQualityFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
