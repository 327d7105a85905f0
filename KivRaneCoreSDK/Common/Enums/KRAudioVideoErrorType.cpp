#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using E = KRAudioVideoErrorType;
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>(
    {E::reconnectError, E::deviceBusyError, E::permissionError, E::multipleAppsOrBackground, E::ok,
     E::unknown});
}  // namespace

std::optional<KRAudioVideoErrorType> krAudioVideoErrorTypeFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
