#pragma once

#include <cstdint>
#include <string>

namespace kr {

/// A reachability flag set, bit for bit as the system reachability service reports it. The
/// predicates name the bits the monitor reads; `description()` is the ten-character flag text.
struct ReachabilityFlags {
    static constexpr std::uint32_t transientConnection = 1u << 0;
    static constexpr std::uint32_t reachable = 1u << 1;
    static constexpr std::uint32_t connectionRequired = 1u << 2;
    static constexpr std::uint32_t connectionOnTraffic = 1u << 3;
    static constexpr std::uint32_t interventionRequired = 1u << 4;
    static constexpr std::uint32_t connectionOnDemand = 1u << 5;
    static constexpr std::uint32_t isLocalAddress = 1u << 16;
    static constexpr std::uint32_t isDirect = 1u << 17;
    static constexpr std::uint32_t isWWAN = 1u << 18;

    std::uint32_t bits = 0;

    bool isReachableFlagSet() const { return has(reachable); }
    bool isConnectionRequiredFlagSet() const { return has(connectionRequired); }
    bool isConnectionOnTrafficOrDemandFlagSet() const {
        return has(connectionOnTraffic) || has(connectionOnDemand);
    }
    bool isInterventionRequiredFlagSet() const { return has(interventionRequired); }
    bool isOnWWANFlagSet() const { return has(isWWAN); }
    bool isConnectionOnTrafficFlagSet() const { return has(connectionOnTraffic); }
    bool isConnectionOnDemandFlagSet() const { return has(connectionOnDemand); }
    bool isTransientConnectionFlagSet() const { return has(transientConnection); }
    bool isLocalAddressFlagSet() const { return has(isLocalAddress); }
    bool isDirectFlagSet() const { return has(isDirect); }
    bool isConnectionRequiredAndTransientFlagSet() const {
        return has(connectionRequired) && has(transientConnection);
    }

    /// "W"/"R", a space, then "c", "t", "i", "C", "D", "l", "d"; "-" for each bit not set.
    std::string description() const;

    friend bool operator==(const ReachabilityFlags&, const ReachabilityFlags&) = default;

private:
    bool has(std::uint32_t bit) const { return (bits & bit) != 0; }
};

}  // namespace kr
