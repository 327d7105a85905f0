#pragma once

#include <cstdint>
#include <string>

namespace kr {

/// Why a reachability monitor could not be made or started. `code` is the error code the flag
/// source reported for the failing call (an errno value on Linux).
struct ReachabilityError {
    enum class Kind {
        failedToCreateWithAddress,   ///< the general-reachability source could not be made
        failedToCreateWithHostname,  ///< a host-name source could not be made
        unableToSetCallback,
        unableToSetDispatchQueue,
        unableToGetFlags,
    };

    Kind kind = Kind::unableToGetFlags;
    std::int32_t code = 0;
    /// The address (for `failedToCreateWithAddress`) or host name (`failedToCreateWithHostname`)
    /// the monitor was to watch; empty for the other kinds.
    std::string target;

    std::string describe() const;
};

}  // namespace kr
