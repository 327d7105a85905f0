#pragma once

#include <cstdint>

namespace kr::platform {

/// One statistics report of the channel: last-mile delay in ms, packet loss rates in percent,
/// bit rates in kbit/s and byte totals since the join.
struct ChannelStats {
    std::int64_t lastmileDelay = 0;
    std::int64_t txPacketLossRate = 0;
    std::int64_t rxPacketLossRate = 0;
    std::int64_t txKBitrate = 0;
    std::int64_t rxKBitrate = 0;
    std::int64_t txBytes = 0;
    std::int64_t rxBytes = 0;
};

}  // namespace kr::platform
