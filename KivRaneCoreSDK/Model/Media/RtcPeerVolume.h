#pragma once

#include <cstdint>
#include <string>

namespace kr {

/// The volume level of one engine peer, named by its id text. Plain value.
struct RtcPeerVolume {
    std::string id;
    std::int64_t volume = 0;

    friend bool operator==(const RtcPeerVolume&, const RtcPeerVolume&) = default;
};

}  // namespace kr
