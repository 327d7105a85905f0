#include "platform/Reachability/NetlinkReachability.h"

#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "testing/ScopedTempDirectory.h"

namespace kr::platform {
namespace {

using Snapshot = NetlinkReachability::Snapshot;
using Route = NetlinkReachability::Route;

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

// lo, eth0 and wwan0 up and running, wlan0 up but not running, eth1 running without addresses.
Snapshot baseSnapshot() {
    Snapshot s;
    s.links = {{1, "lo", kUp | IFF_LOOPBACK},
               {2, "eth0", kUp},
               {3, "wwan0", kUp},
               {4, "wlan0", IFF_UP},
               {5, "eth1", kUp}};
    s.addresses = {{1, AF_INET, RT_SCOPE_HOST, 0},
                   {2, AF_INET, RT_SCOPE_UNIVERSE, 0},
                   {2, AF_INET6, RT_SCOPE_LINK, 0},
                   {3, AF_INET, RT_SCOPE_UNIVERSE, 0},
                   {3, AF_INET6, RT_SCOPE_UNIVERSE, IFA_F_TENTATIVE},
                   {4, AF_INET, RT_SCOPE_UNIVERSE, 0}};
    return s;
}

Route defaultRoute(int family, int oif, std::uint32_t metric = 100, unsigned type = RTN_UNICAST,
                   std::uint32_t table = RT_TABLE_MAIN) {
    return Route{family, 0, type, table, metric, oif};
}

TEST(NetlinkReachabilityTest, ReachableOnlyThroughAUsableDefaultRoute) {
    struct Case {
        const char* name;
        std::vector<Route> routes;
        bool reachable;
        const char* interfaceName;
    };
    Route subnet = defaultRoute(AF_INET, 2);
    subnet.destinationLength = 24;
    const Case cases[] = {
        {"no route", {}, false, ""},
        {"ethernet", {defaultRoute(AF_INET, 2)}, true, "eth0"},
        {"interface not running", {defaultRoute(AF_INET, 4)}, false, ""},
        {"loopback", {defaultRoute(AF_INET, 1)}, false, ""},
        {"no address of the family", {defaultRoute(AF_INET, 5)}, false, ""},
        {"only link-local IPv6", {defaultRoute(AF_INET6, 2)}, false, ""},
        {"only tentative IPv6", {defaultRoute(AF_INET6, 3)}, false, ""},
        {"unreachable route", {defaultRoute(AF_INET, 2, 100, RTN_UNREACHABLE)}, false, ""},
        {"local table", {defaultRoute(AF_INET, 2, 100, RTN_UNICAST, RT_TABLE_LOCAL)}, false, ""},
        {"not a default route", {subnet}, false, ""},
        {"unknown interface", {defaultRoute(AF_INET, 42)}, false, ""},
        {"lowest metric wins",
         {defaultRoute(AF_INET, 2, 600), defaultRoute(AF_INET, 3, 100)},
         true,
         "wwan0"},
        {"unusable best metric is skipped",
         {defaultRoute(AF_INET, 4, 10), defaultRoute(AF_INET, 2, 600)},
         true,
         "eth0"},
        {"nexthop object without interface", {defaultRoute(AF_INET, 0)}, true, "eth0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Snapshot snapshot = baseSnapshot();
        snapshot.routes = c.routes;
        const auto state = NetlinkReachability::evaluate(
            snapshot, [](const std::string& name) { return name == "wwan0"; });
        EXPECT_EQ(state.reachable, c.reachable);
        EXPECT_EQ(state.interfaceName, c.interfaceName);
        EXPECT_EQ(state.cellular, std::string(c.interfaceName) == "wwan0");
    }
}

TEST(NetlinkReachabilityTest, CellularInterfacesFromSysfsAndNames) {
    test::ScopedTempDirectory root;
    auto write = [&](const std::string& name, const std::string& file, const std::string& text) {
        std::filesystem::create_directories(root.path() / name);
        std::ofstream(root.path() / name / file) << text;
    };
    write("eth0", "uevent", "INTERFACE=eth0\nIFINDEX=2\n");
    write("eth0", "type", "1\n");
    write("usb0", "uevent", "INTERFACE=usb0\nDEVTYPE=wwan\n");
    write("mbim0", "type", "519\n");
    write("tun0", "type", "65534\n");

    struct Case {
        const char* name;
        bool cellular;
    };
    const Case cases[] = {
        {"eth0", false}, {"usb0", true},        {"mbim0", true},       {"tun0", false},
        {"wwan0", true}, {"wwp0s20f0u6", true}, {"rmnet_data0", true}, {"missing", false},
        {"", false},     {"../usb0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NetlinkReachability::isCellularInterface(root.path().string(), c.name),
                  c.cellular);
    }
}

}  // namespace
}  // namespace kr::platform
