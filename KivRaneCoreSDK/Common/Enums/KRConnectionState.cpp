#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"

namespace kr {

std::optional<KRConnectionState> krConnectionStateFromRaw(std::int64_t raw) {
    switch (raw) {
        case 0:
            return KRConnectionState::disconnected;
        case 1:
            return KRConnectionState::connecting;
        case 2:
            return KRConnectionState::connected;
        case 3:
            return KRConnectionState::reconnecting;
        case 4:
            return KRConnectionState::failed;
        default:
            return std::nullopt;
    }
}

}  // namespace kr
