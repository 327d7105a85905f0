#include "KivRaneCoreSDK/Network/Utils/LocalIPAddress.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <vector>

namespace kr {
namespace {

using Entry = LocalIPAddress::Entry;

Entry v4(std::string name, std::string_view text) {
    return Entry::ipv4(std::move(name), text);
}
Entry v6(std::string name, std::string_view text) {
    return Entry::ipv6(std::move(name), text);
}
// An IPv4 entry whose address is too short to convert.
Entry unconvertible(std::string name) {
    Entry entry = v4(std::move(name), "10.9.9.9");
    entry.address.resize(4);
    return entry;
}
Entry nameless(std::string_view text) {
    Entry entry = v4("", text);
    entry.name.reset();
    return entry;
}
Entry addressless(std::string name) {
    return Entry{std::move(name), AF_INET, {}};
}
Entry linkLayer(std::string name) {
    Entry entry = v4(std::move(name), "10.1.1.1");
    entry.family = AF_PACKET;
    return entry;
}

TEST(LocalIPAddressTest, LastListedEntryWins) {
    struct Row {
        const char* name;
        std::vector<Entry> list;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"empty list", {}, ""},
        {"only the mobile loopback", {v4("lo0", "127.0.0.1"), v6("lo0", "::1")}, "::1"},
        {"IPv4 then IPv6 of en0", {v4("en0", "192.168.1.5"), v6("en0", "fe80::5")}, "fe80::5"},
        {"IPv6 then IPv4 of en0", {v6("en0", "fe80::5"), v4("en0", "192.168.1.5")}, "192.168.1.5"},
        {"cellular after en0", {v4("en0", "192.168.1.5"), v4("pdp_ip0", "10.20.0.7")}, "10.20.0.7"},
        {"loopback after en0", {v4("en0", "192.168.1.5"), v4("lo0", "127.0.0.1")}, "127.0.0.1"},
        {"en1 is not listed", {v4("en1", "192.168.1.6"), v4("utun0", "10.0.0.1")}, ""},
        {"en1 does not replace en0",
         {v4("en0", "192.168.1.5"), v4("en1", "192.168.1.6")},
         "192.168.1.5"},
        {"linux ethernet", {v4("eth0", "172.16.0.4")}, "172.16.0.4"},
        {"linux predictable names",
         {v4("enp3s0", "172.16.0.4"), v4("wlp2s0", "172.16.0.5"), v4("wwan0", "100.64.0.1")},
         "100.64.0.1"},
        {"linux loopback keeps the last-match rule",
         {v4("eth0", "172.16.0.4"), v4("lo", "127.0.0.1")},
         "127.0.0.1"},
        {"linux loopback first", {v4("lo", "127.0.0.1"), v4("ens33", "172.16.0.9")}, "172.16.0.9"},
        {"unlisted linux names", {v4("docker0", "172.17.0.1"), v4("virbr0", "192.168.122.1")}, ""},
        {"non-IP family skipped", {v4("eth0", "172.16.0.4"), linkLayer("eth0")}, "172.16.0.4"},
        {"entry without name skipped",
         {v4("eth0", "172.16.0.4"), nameless("10.0.0.9")},
         "172.16.0.4"},
        {"entry without address skipped",
         {v4("eth0", "172.16.0.4"), addressless("eth1")},
         "172.16.0.4"},
        {"failed conversion keeps the earlier address",
         {v4("en0", "192.168.1.5"), unconvertible("en0")},
         "192.168.1.5"},
        {"later good entry replaces after a failed conversion",
         {unconvertible("en0"), v4("en2", "192.168.2.2")},
         "192.168.2.2"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(LocalIPAddress::select(row.list), row.expected) << row.name;
    }
}

TEST(LocalIPAddressTest, TextThatIsNoAddressGivesAnEntryWithoutOne) {
    EXPECT_TRUE(Entry::ipv4("eth0", "300.1.1.1").address.empty());
    EXPECT_TRUE(Entry::ipv6("eth0", "192.168.1.1").address.empty());
    EXPECT_EQ(LocalIPAddress::select({Entry::ipv4("eth0", "nonsense")}), "");
}

TEST(LocalIPAddressTest, SystemLookupAgreesWithTheWalkOverTheSystemList) {
    const auto interfaces = LocalIPAddress::systemInterfaces();
    ASSERT_TRUE(interfaces.has_value());
    EXPECT_EQ(LocalIPAddress::getIPAddress(), LocalIPAddress::select(*interfaces));
}

}  // namespace
}  // namespace kr
