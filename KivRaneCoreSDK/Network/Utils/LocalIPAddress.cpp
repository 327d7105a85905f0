#include "KivRaneCoreSDK/Network/Utils/LocalIPAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

namespace kr {

namespace {

// Interface names of the mobile platform that are always considered ("en1" is deliberately not
// among them).
constexpr std::array<std::string_view, 9> kMobileInterfaces = {
    "en0", "en2", "en3", "en4", "pdp_ip0", "pdp_ip1", "pdp_ip2", "pdp_ip3", "lo0"};

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() > prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

template <class SockAddr>
std::string rawBytes(const SockAddr& address) {
    return std::string(reinterpret_cast<const char*>(&address), sizeof address);
}

// The size of the address structure of `family`; 0 for the families the walk does not read.
std::size_t addressSize(int family) {
    switch (family) {
        case AF_INET:
            return sizeof(sockaddr_in);
        case AF_INET6:
            return sizeof(sockaddr_in6);
        default:
            return 0;
    }
}

}  // namespace

LocalIPAddress::Entry LocalIPAddress::Entry::ipv4(std::string name, std::string_view text) {
    Entry entry{std::move(name), AF_INET, {}};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (inet_pton(AF_INET, std::string(text).c_str(), &address.sin_addr) == 1) {
        entry.address = rawBytes(address);
    }
    return entry;
}

LocalIPAddress::Entry LocalIPAddress::Entry::ipv6(std::string name, std::string_view text) {
    Entry entry{std::move(name), AF_INET6, {}};
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, std::string(text).c_str(), &address.sin6_addr) == 1) {
        entry.address = rawBytes(address);
    }
    return entry;
}

bool LocalIPAddress::isListedInterface(std::string_view name) {
    for (std::string_view listed : kMobileInterfaces) {
        if (name == listed) {
            return true;
        }
    }
    // Linux names: loopback, Ethernet ("eth0", or "en" + type letter as in "enp3s0"), wireless
    // LAN ("wlan0", "wlp2s0") and wireless WAN ("wwan0"). "en" + digit is a mobile-platform name
    // and only counts when it is listed above.
    return name == "lo" || startsWith(name, "eth") || startsWith(name, "wl") ||
           startsWith(name, "ww") || (startsWith(name, "en") && isLetter(name[2]));
}

std::optional<std::string> LocalIPAddress::numericHost(std::string_view address) {
    if (address.size() < sizeof(sa_family_t) || address.size() > sizeof(sockaddr_storage)) {
        return std::nullopt;
    }
    sockaddr_storage storage{};
    std::memcpy(&storage, address.data(), address.size());
    std::array<char, NI_MAXHOST> host{};
    const int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&storage),
                               static_cast<socklen_t>(address.size()), host.data(), host.size(),
                               nullptr, 0, NI_NUMERICHOST);
    if (rc != 0 || host[0] == '\0') {
        return std::nullopt;
    }
    return std::string(host.data());
}

std::string LocalIPAddress::select(const InterfaceList& interfaces) {
    std::string candidate;
    for (const Entry& entry : interfaces) {
        if (!entry.name || entry.address.empty()) {
            continue;
        }
        if (entry.family != AF_INET && entry.family != AF_INET6) {
            continue;
        }
        if (!isListedInterface(*entry.name)) {
            continue;
        }
        // A failed conversion keeps the address found so far instead of wiping it.
        if (auto text = numericHost(entry.address)) {
            candidate = std::move(*text);
        }
    }
    return candidate;
}

std::optional<LocalIPAddress::InterfaceList> LocalIPAddress::systemInterfaces() {
    ifaddrs* head = nullptr;
    if (getifaddrs(&head) != 0) {
        return std::nullopt;
    }
    InterfaceList list;
    for (const ifaddrs* item = head; item != nullptr; item = item->ifa_next) {
        Entry entry;
        if (item->ifa_name != nullptr) {
            entry.name = std::string(item->ifa_name);
        }
        if (item->ifa_addr != nullptr) {
            entry.family = item->ifa_addr->sa_family;
            // Linux addresses record no length of their own: use the size of the family's
            // address structure.
            if (const std::size_t size = addressSize(entry.family); size != 0) {
                entry.address.assign(reinterpret_cast<const char*>(item->ifa_addr), size);
            }
        }
        list.push_back(std::move(entry));
    }
    freeifaddrs(head);
    return list;
}

std::string LocalIPAddress::getIPAddress() {
    const auto interfaces = systemInterfaces();
    return interfaces ? select(*interfaces) : std::string();
}

}  // namespace kr
