#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using S = KRConnectionState;
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>(
    {S::disconnected, S::connecting, S::connected, S::reconnecting, S::failed});
}  // namespace

std::optional<KRConnectionState> krConnectionStateFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
