#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kr {

/// Finds the device's local IP address as numeric text, for the join call.
///
/// The walk reads a list of interface addresses (the system's, or a synthetic one in tests) in
/// list order, to the end. It keeps only IPv4 and IPv6 entries of the listed interfaces: the
/// mobile platform's "en0", "en2", "en3", "en4", "pdp_ip0" to "pdp_ip3" and "lo0", and their Linux
/// counterparts "eth*", "wl*", "ww*", "en" followed by a letter ("enp3s0", "eno1", "ens33") and
/// "lo". The last such entry whose address converts to text wins. Entries without a name or an
/// address are skipped, and a conversion that fails never replaces an earlier good address.
///
/// Pure functions of their input (the system list is read on the calling thread); any thread.
class LocalIPAddress {
public:
    /// One entry of the interface-address list.
    struct Entry {
        std::optional<std::string> name;  ///< nullopt: the entry carries no interface name
        int family = 0;                   ///< address family (AF_INET, AF_INET6, ...)
        /// The raw socket address bytes (family included); empty when the entry has no address.
        std::string address;

        /// An entry with an IPv4 or IPv6 address given as text (e.g. "192.168.1.20", "fe80::1").
        /// Text that is not an address of that family gives an entry without an address.
        static Entry ipv4(std::string name, std::string_view text);
        static Entry ipv6(std::string name, std::string_view text);
    };
    using InterfaceList = std::vector<Entry>;

    /// The system's interface-address list (`getifaddrs`); nullopt when it cannot be read.
    static std::optional<InterfaceList> systemInterfaces();

    /// The address chosen from the system list; "" when none is found or the list cannot be read.
    static std::string getIPAddress();

    /// The address chosen from `interfaces`; "" when no entry qualifies.
    static std::string select(const InterfaceList& interfaces);

    /// Whether addresses of the interface `name` are considered.
    static bool isListedInterface(std::string_view name);

    /// Numeric host text of a raw socket address (`getnameinfo` with NI_NUMERICHOST); nullopt
    /// when it cannot be converted.
    static std::optional<std::string> numericHost(std::string_view address);
};

}  // namespace kr
