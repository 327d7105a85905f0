#include "platform/Reachability/NetlinkReachability.h"

#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

// The kernel's netlink walking macros (NLMSG_*, RTA_*, IFLA_*) expand to C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace kr::platform {

namespace {

// Closes a file descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// An errno value, kept apart from the descriptor it failed to produce.
struct Errno {
    int value;
};

Result<int, Errno> openRouteSocket(std::uint32_t groups) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return Failure{Errno{errno}};
    }
    Fd guard(fd);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return Failure{Errno{errno}};
    }
    return guard.release();
}

// Reads every attribute of one message into a table indexed by attribute type.
template <std::size_t N>
void parseAttributes(const rtattr* attribute, int length, std::array<const rtattr*, N>& table) {
    table.fill(nullptr);
    for (; RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        const auto type = static_cast<std::size_t>(attribute->rta_type & ~NLA_F_NESTED);
        if (type < N) {
            table[type] = attribute;
        }
    }
}

template <typename T>
std::optional<T> attributeValue(const rtattr* attribute) {
    if (attribute == nullptr || RTA_PAYLOAD(attribute) < sizeof(T)) {
        return std::nullopt;
    }
    T value;
    std::memcpy(&value, RTA_DATA(attribute), sizeof(T));
    return value;
}

void addLink(const nlmsghdr* header, NetlinkReachability::Snapshot& snapshot) {
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return;
    }
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
    std::array<const rtattr*, IFLA_MAX + 1> attributes{};
    parseAttributes(IFLA_RTA(info), static_cast<int>(IFLA_PAYLOAD(header)), attributes);
    NetlinkReachability::Link link;
    link.index = info->ifi_index;
    link.flags = info->ifi_flags;
    if (const rtattr* name = attributes[IFLA_IFNAME]) {
        const auto* text = static_cast<const char*>(RTA_DATA(name));
        link.name.assign(text, strnlen(text, RTA_PAYLOAD(name)));
    }
    snapshot.links.push_back(std::move(link));
}

void addAddress(const nlmsghdr* header, NetlinkReachability::Snapshot& snapshot) {
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
        return;
    }
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
    std::array<const rtattr*, IFA_MAX + 1> attributes{};
    parseAttributes(IFA_RTA(info), static_cast<int>(IFA_PAYLOAD(header)), attributes);
    NetlinkReachability::Address address;
    address.index = static_cast<int>(info->ifa_index);
    address.family = info->ifa_family;
    address.scope = info->ifa_scope;
    address.flags = attributeValue<std::uint32_t>(attributes[IFA_FLAGS]).value_or(info->ifa_flags);
    snapshot.addresses.push_back(address);
}

void addRoute(const nlmsghdr* header, NetlinkReachability::Snapshot& snapshot) {
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        return;
    }
    const auto* info = static_cast<const rtmsg*>(NLMSG_DATA(header));
    std::array<const rtattr*, RTA_MAX + 1> attributes{};
    parseAttributes(RTM_RTA(info), static_cast<int>(RTM_PAYLOAD(header)), attributes);
    NetlinkReachability::Route route;
    route.family = info->rtm_family;
    route.destinationLength = info->rtm_dst_len;
    route.type = info->rtm_type;
    route.table = attributeValue<std::uint32_t>(attributes[RTA_TABLE]).value_or(info->rtm_table);
    route.priority = attributeValue<std::uint32_t>(attributes[RTA_PRIORITY]).value_or(0);
    route.outputIndex = attributeValue<int>(attributes[RTA_OIF]).value_or(0);
    if (route.outputIndex == 0) {
        // A multipath route: take the first hop's interface.
        if (const rtattr* hops = attributes[RTA_MULTIPATH];
            hops != nullptr && RTA_PAYLOAD(hops) >= sizeof(rtnexthop)) {
            const auto* hop = static_cast<const rtnexthop*>(RTA_DATA(hops));
            route.outputIndex = hop->rtnh_ifindex;
        }
    }
    snapshot.routes.push_back(route);
}

// Sends one dump request and parses every reply into `snapshot`.
Result<Unit, int> dumpOne(int fd, std::uint16_t type, std::uint32_t sequence,
                          NetlinkReachability::Snapshot& snapshot) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.rtgen_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        return Failure{errno};
    }

    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure{errno};
        }
        auto length = static_cast<unsigned>(received);
        for (auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data());
             NLMSG_OK(header, length); header = NLMSG_NEXT(header, length)) {
            if (header->nlmsg_seq != sequence) {
                continue;
            }
            switch (header->nlmsg_type) {
                case NLMSG_DONE:
                    return Unit{};
                case NLMSG_ERROR: {
                    const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
                    return Failure{error->error != 0 ? -error->error : EIO};
                }
                case RTM_NEWLINK:
                    addLink(header, snapshot);
                    break;
                case RTM_NEWADDR:
                    addAddress(header, snapshot);
                    break;
                case RTM_NEWROUTE:
                    addRoute(header, snapshot);
                    break;
                default:
                    break;
            }
        }
    }
}

bool usableLink(const NetlinkReachability::Link& link) {
    return (link.flags & IFF_UP) != 0 && (link.flags & IFF_RUNNING) != 0 &&
           (link.flags & IFF_LOOPBACK) == 0;
}

bool usableAddress(const NetlinkReachability::Address& address, int family) {
    if (address.family != family) {
        return false;
    }
    if (family == AF_INET6) {
        return address.scope == RT_SCOPE_UNIVERSE &&
               (address.flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) == 0;
    }
    return true;
}

std::string readFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

NetlinkReachability::NetlinkReachability(std::string sysfsNetRoot)
    : sysfsNetRoot_(std::move(sysfsNetRoot)) {}

NetlinkReachability::~NetlinkReachability() {
    stop();
}

Result<std::shared_ptr<NetlinkReachability>, int> NetlinkReachability::create(
    std::string sysfsNetRoot) {
    auto probe = openRouteSocket(0);
    if (!probe.ok()) {
        return Failure{probe.error().value};
    }
    ::close(probe.value());  // only the ability to open one matters here
    return std::make_shared<NetlinkReachability>(std::move(sysfsNetRoot));
}

Result<NetlinkReachability::Snapshot, int> NetlinkReachability::dump() {
    auto opened = openRouteSocket(0);
    if (!opened.ok()) {
        return Failure{opened.error().value};
    }
    Fd fd(opened.value());
    // A dump answers at once; the bound only guards against a wedged kernel socket.
    timeval timeout{2, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    Snapshot snapshot;
    std::uint32_t sequence = 1;
    for (const std::uint16_t type :
         {std::uint16_t{RTM_GETLINK}, std::uint16_t{RTM_GETADDR}, std::uint16_t{RTM_GETROUTE}}) {
        auto done = dumpOne(fd.get(), type, sequence++, snapshot);
        if (!done.ok()) {
            return Failure{done.error()};
        }
    }
    return snapshot;
}

NetlinkReachability::State NetlinkReachability::evaluate(const Snapshot& snapshot,
                                                         const CellularTest& isCellular) {
    auto hasAddress = [&](int index, int family) {
        for (const auto& address : snapshot.addresses) {
            if (address.index == index && usableAddress(address, family)) {
                return true;
            }
        }
        return false;
    };
    // The usable interface a route leaves through, or none.
    auto outputLink = [&](const Route& route) -> const Link* {
        for (const auto& link : snapshot.links) {
            const bool candidate = route.outputIndex == 0 ? true : link.index == route.outputIndex;
            if (candidate && usableLink(link) && hasAddress(link.index, route.family)) {
                return &link;
            }
        }
        return nullptr;
    };

    const Route* best = nullptr;
    const Link* bestLink = nullptr;
    for (const auto& route : snapshot.routes) {
        if (route.destinationLength != 0 || route.type != RTN_UNICAST ||
            (route.table != RT_TABLE_MAIN && route.table != RT_TABLE_DEFAULT) ||
            (route.family != AF_INET && route.family != AF_INET6)) {
            continue;
        }
        const Link* link = outputLink(route);
        if (link == nullptr) {
            continue;
        }
        const bool better = best == nullptr || route.priority < best->priority ||
                            (route.priority == best->priority && route.family == AF_INET &&
                             best->family != AF_INET);
        if (better) {
            best = &route;
            bestLink = link;
        }
    }
    State state;
    if (bestLink != nullptr) {
        state.reachable = true;
        state.interfaceName = bestLink->name;
        state.cellular = isCellular && isCellular(bestLink->name);
    }
    return state;
}

bool NetlinkReachability::isCellularInterface(const std::string& sysfsNetRoot,
                                              const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return false;
    }
    if (name.rfind("ww", 0) == 0 || name.rfind("rmnet", 0) == 0) {
        return true;
    }
    const std::string directory = sysfsNetRoot + "/" + name;
    std::ifstream uevent(directory + "/uevent");
    for (std::string line; std::getline(uevent, line);) {
        if (line == "DEVTYPE=wwan") {
            return true;
        }
    }
    const std::string type = readFirstLine(directory + "/type");
    return type == std::to_string(ARPHRD_RAWIP);
}

Result<NetlinkReachability::State, int> NetlinkReachability::read() const {
    auto snapshot = dump();
    if (!snapshot.ok()) {
        return Failure{snapshot.error()};
    }
    const std::string& root = sysfsNetRoot_;
    return evaluate(snapshot.value(),
                    [&root](const std::string& name) { return isCellularInterface(root, name); });
}

Result<Unit, int> NetlinkReachability::start(std::shared_ptr<DispatchQueue> queue,
                                             Callback callback) {
    std::lock_guard lock(mutex_);
    stopLocked();
    constexpr std::uint32_t groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR |
                                     RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    auto opened = openRouteSocket(groups);
    if (!opened.ok()) {
        return Failure{opened.error().value};
    }
    Fd socketFd(opened.value());
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        return Failure{errno};
    }
    wakeFd_ = wake;
    active_ = std::make_shared<std::atomic<bool>>(true);
    watcher_ = std::thread(&NetlinkReachability::watch, this, socketFd.release(), wake,
                           std::move(queue), std::move(callback), active_);
    return Unit{};
}

void NetlinkReachability::stop() {
    std::lock_guard lock(mutex_);
    stopLocked();
}

void NetlinkReachability::stopLocked() {
    if (active_) {
        active_->store(false);
        active_.reset();
    }
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
    if (watcher_.joinable()) {
        watcher_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
}

void NetlinkReachability::watch(int socketFd, int wakeFd, std::shared_ptr<DispatchQueue> queue,
                                Callback callback, std::shared_ptr<std::atomic<bool>> active) {
    Fd socketGuard(socketFd);
    std::optional<State> lastPosted;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{socketFd, POLLIN, 0}, pollfd{wakeFd, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0 || !active->load()) {
            return;
        }
        // Drain the burst (an overrun, ENOBUFS, only means a re-read is due, as for any event).
        while (::recv(socketFd, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0 ||
               errno == ENOBUFS || errno == EINTR) {
        }
        auto state = read();
        if (!state.ok() || (lastPosted && *lastPosted == state.value())) {
            continue;
        }
        lastPosted = state.value();
        queue->post([active, callback, current = state.value()] {
            if (active->load()) {
                callback(current);
            }
        });
    }
}

}  // namespace kr::platform
