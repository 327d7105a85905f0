#pragma once

#include <cstdint>

namespace kr {

/// Packet loss of the local user's sent and received traffic, in percent. Plain value.
struct KRRtcPacketLossData {
    std::int64_t uplinkLoss = 0;
    std::int64_t downlinkLoss = 0;

    friend bool operator==(const KRRtcPacketLossData&, const KRRtcPacketLossData&) = default;
};

}  // namespace kr
