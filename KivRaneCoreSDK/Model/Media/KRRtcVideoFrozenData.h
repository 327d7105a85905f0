#pragma once

#include <cstdint>

#include "platform/Dispatch/Clock.h"

namespace kr {

/// A remote video seen frozen, and when (on the library's clock). Plain value.
struct KRRtcVideoFrozenData {
    std::uint64_t uid = 0;
    platform::Clock::time_point frozenAt{};

    friend bool operator==(const KRRtcVideoFrozenData&, const KRRtcVideoFrozenData&) = default;
};

}  // namespace kr
