#pragma once

#include <cstdint>

namespace kr {

/// Bytes sent and received in the channel since the join. Plain value.
struct KRRtcBandwidthData {
    std::int64_t totalSent = 0;
    std::int64_t totalRecieved = 0;

    friend bool operator==(const KRRtcBandwidthData&, const KRRtcBandwidthData&) = default;
};

}  // namespace kr
