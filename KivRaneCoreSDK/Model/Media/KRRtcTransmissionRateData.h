#pragma once

#include <cstdint>

namespace kr {

/// Sending and receiving bit rate of the local user, in kbit/s. Plain value.
struct KRRtcTransmissionRateData {
    std::int64_t uplinkRate = 0;
    std::int64_t downlinkRate = 0;

    friend bool operator==(const KRRtcTransmissionRateData&,
                           const KRRtcTransmissionRateData&) = default;
};

}  // namespace kr
