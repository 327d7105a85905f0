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

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

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

// Netlink records are read by copying each header out of the receive buffer rather than by
// pointing into it: the kernel's walking macros cast byte pointers to wider structs, and a copy
// needs no alignment at all.
template <typename T>
T readRecord(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

constexpr std::size_t messageHeaderLength = NLMSG_ALIGN(sizeof(nlmsghdr));
constexpr std::size_t attributeHeaderLength = RTA_ALIGN(sizeof(rtattr));

// The bytes of one attribute's payload; empty data means the attribute was absent.
struct Attribute {
    const char* data = nullptr;
    std::size_t size = 0;
};

// Reads every attribute in `length` bytes at `data` into a table indexed by attribute type.
template <std::size_t N>
void parseAttributes(const char* data, std::size_t length, std::array<Attribute, N>& table) {
    table.fill(Attribute{});
    while (length >= attributeHeaderLength) {
        const auto header = readRecord<rtattr>(data);
        if (header.rta_len < attributeHeaderLength || header.rta_len > length) {
            return;
        }
        const auto type = static_cast<std::size_t>(header.rta_type & ~NLA_F_NESTED);
        if (type < N) {
            table[type] = Attribute{data + attributeHeaderLength,
                                    header.rta_len - attributeHeaderLength};
        }
        const std::size_t step = RTA_ALIGN(header.rta_len);
        if (step >= length) {
            return;
        }
        data += step;
        length -= step;
    }
}

template <typename T>
std::optional<T> attributeValue(const Attribute& attribute) {
    if (attribute.data == nullptr || attribute.size < sizeof(T)) {
        return std::nullopt;
    }
    return readRecord<T>(attribute.data);
}

// The fixed part of a message's payload, followed by its attributes.
template <typename Body, std::size_t N>
std::optional<Body> readMessage(const nlmsghdr& header, const char* payload,
                                std::array<Attribute, N>& attributes) {
    if (header.nlmsg_len < messageHeaderLength + sizeof(Body)) {
        return std::nullopt;
    }
    const std::size_t bodyLength = NLMSG_ALIGN(sizeof(Body));
    const std::size_t payloadLength = header.nlmsg_len - messageHeaderLength;
    if (payloadLength > bodyLength) {
        parseAttributes(payload + bodyLength, payloadLength - bodyLength, attributes);
    } else {
        attributes.fill(Attribute{});
    }
    return readRecord<Body>(payload);
}

void addLink(const nlmsghdr& header, const char* payload, NetlinkReachability::Snapshot& snapshot) {
    std::array<Attribute, IFLA_MAX + 1> attributes{};
    const auto info = readMessage<ifinfomsg>(header, payload, attributes);
    if (!info) {
        return;
    }
    NetlinkReachability::Link link;
    link.index = info->ifi_index;
    link.flags = info->ifi_flags;
    if (const Attribute& name = attributes[IFLA_IFNAME]; name.data != nullptr) {
        link.name.assign(name.data, strnlen(name.data, name.size));
    }
    snapshot.links.push_back(std::move(link));
}

void addAddress(const nlmsghdr& header, const char* payload,
                NetlinkReachability::Snapshot& snapshot) {
    std::array<Attribute, IFA_MAX + 1> attributes{};
    const auto info = readMessage<ifaddrmsg>(header, payload, attributes);
    if (!info) {
        return;
    }
    NetlinkReachability::Address address;
    address.index = static_cast<int>(info->ifa_index);
    address.family = info->ifa_family;
    address.scope = info->ifa_scope;
    address.flags = attributeValue<std::uint32_t>(attributes[IFA_FLAGS]).value_or(info->ifa_flags);
    snapshot.addresses.push_back(address);
}

void addRoute(const nlmsghdr& header, const char* payload, NetlinkReachability::Snapshot& snapshot) {
    std::array<Attribute, RTA_MAX + 1> attributes{};
    const auto info = readMessage<rtmsg>(header, payload, attributes);
    if (!info) {
        return;
    }
    NetlinkReachability::Route route;
    route.family = info->rtm_family;
    route.destinationLength = info->rtm_dst_len;
    route.type = info->rtm_type;
    route.table = attributeValue<std::uint32_t>(attributes[RTA_TABLE]).value_or(info->rtm_table);
    route.priority = attributeValue<std::uint32_t>(attributes[RTA_PRIORITY]).value_or(0);
    route.outputIndex = attributeValue<int>(attributes[RTA_OIF]).value_or(0);
    if (route.outputIndex == 0) {
        // A multipath route: take the first hop's interface.
        if (const auto hop = attributeValue<rtnexthop>(attributes[RTA_MULTIPATH])) {
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
    request.header.nlmsg_len = static_cast<std::uint32_t>(messageHeaderLength + sizeof(rtgenmsg));
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
        const char* at = buffer.data();
        auto length = static_cast<std::size_t>(received);
        while (length >= messageHeaderLength) {
            const auto header = readRecord<nlmsghdr>(at);
            if (header.nlmsg_len < messageHeaderLength || header.nlmsg_len > length) {
                break;
            }
            const char* payload = at + messageHeaderLength;
            const std::size_t step = std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), length);
            at += step;
            length -= step;
            if (header.nlmsg_seq != sequence) {
                continue;
            }
            switch (header.nlmsg_type) {
                case NLMSG_DONE:
                    return Unit{};
                case NLMSG_ERROR: {
                    if (header.nlmsg_len < messageHeaderLength + sizeof(int)) {
                        return Failure{EIO};
                    }
                    const int error = readRecord<int>(payload);
                    return Failure{error != 0 ? -error : EIO};
                }
                case RTM_NEWLINK:
                    addLink(header, payload, snapshot);
                    break;
                case RTM_NEWADDR:
                    addAddress(header, payload, snapshot);
                    break;
                case RTM_NEWROUTE:
                    addRoute(header, payload, snapshot);
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
