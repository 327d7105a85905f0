#include "platform/Device/AppInfo.h"

#include <sys/utsname.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <mutex>

namespace kr::platform {

namespace {

struct HostEntries {
    std::mutex mutex;
    std::optional<std::string> executable;
    std::optional<std::string> version;
    std::optional<std::string> bundleId;
    std::optional<std::string> build;
};

HostEntries& entries() {
    static auto* e = new HostEntries();
    return *e;
}

std::optional<std::string> read(std::optional<std::string> HostEntries::*member) {
    std::lock_guard lock(entries().mutex);
    return entries().*member;
}

void write(std::optional<std::string> HostEntries::*member, std::optional<std::string> value) {
    std::lock_guard lock(entries().mutex);
    entries().*member = std::move(value);
}

std::string orUnknown(std::optional<std::string> value) {
    return value ? std::move(*value) : std::string(AppInfo::kUnknown);
}

// The first launch argument, as the kernel keeps it.
std::optional<std::string> firstLaunchArgument() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    if (in && std::getline(in, arg, '\0') && !arg.empty()) {
        return arg;
    }
    return std::nullopt;
}

}  // namespace

std::string AppInfo::executableName() {
    if (auto host = read(&HostEntries::executable)) {
        return *host;
    }
    if (auto arg = firstLaunchArgument()) {
        if (auto name = lastPathComponent(*arg)) {
            return *name;
        }
    }
    return std::string(kUnknown);
}

std::string AppInfo::appVersion() {
    return orUnknown(read(&HostEntries::version));
}
std::string AppInfo::bundleIdentifier() {
    return orUnknown(read(&HostEntries::bundleId));
}
std::string AppInfo::buildNumber() {
    return orUnknown(read(&HostEntries::build));
}

void AppInfo::setExecutableName(std::optional<std::string> value) {
    write(&HostEntries::executable, std::move(value));
}
void AppInfo::setAppVersion(std::optional<std::string> value) {
    write(&HostEntries::version, std::move(value));
}
void AppInfo::setBundleIdentifier(std::optional<std::string> value) {
    write(&HostEntries::bundleId, std::move(value));
}
void AppInfo::setBuildNumber(std::optional<std::string> value) {
    write(&HostEntries::build, std::move(value));
}

std::string AppInfo::osName() {
    utsname info{};
    if (::uname(&info) != 0 || info.sysname[0] == '\0') {
        return std::string(kUnknown);
    }
    return info.sysname;
}

std::string AppInfo::osVersion() {
    utsname info{};
    if (::uname(&info) != 0) {
        return std::string(kUnknown);
    }
    return versionTriple(info.release).value_or(std::string(kUnknown));
}

std::optional<std::string> AppInfo::lastPathComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return std::nullopt;
    }
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> AppInfo::versionTriple(std::string_view release) {
    std::array<std::uint64_t, 3> parts{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            // A further number only follows a '.' directly followed by a digit.
            if (pos + 1 >= release.size() || release[pos] != '.' || release[pos + 1] < '0' ||
                release[pos + 1] > '9') {
                break;
            }
            ++pos;
        }
        const std::size_t start = pos;
        std::uint64_t n = 0;
        while (pos < release.size() && release[pos] >= '0' && release[pos] <= '9') {
            if (n > (UINT64_MAX - 9) / 10) {
                return std::nullopt;  // absurdly long number
            }
            n = n * 10 + static_cast<std::uint64_t>(release[pos] - '0');
            ++pos;
        }
        if (pos == start) {
            return std::nullopt;  // only reachable for the first number
        }
        parts[i] = n;
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]);
}

}  // namespace kr::platform
