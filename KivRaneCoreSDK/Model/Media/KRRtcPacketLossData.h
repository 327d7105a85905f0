#pragma once

#include <cstdint>

namespace kr {

/// Loss rates (percent) upstream and downstream for this client. Plain value.
struct KRRtcPacketLossData {
    std::int64_t uplinkLoss = 0;
    std::int64_t downlinkLoss = 0;

    friend bool operator==(const KRRtcPacketLossData&, const KRRtcPacketLossData&) = default;
};

}  // namespace kr
