#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kr::platform {

/// What the host application and the running system say about themselves, for the user agent.
/// The four application entries are set by the host (there is no application information
/// dictionary on this platform); an entry the host has not set reads as "Unknown", except the
/// executable name, which falls back to the last path component of the process's first launch
/// argument first. The system entries come from uname(2).
/// Threading: every method may be called from any thread.
class AppInfo {
public:
    static constexpr std::string_view kUnknown = "Unknown";

    static std::string executableName();
    static std::string appVersion();
    static std::string bundleIdentifier();
    static std::string buildNumber();

    /// Host settings; nullopt clears the entry.
    static void setExecutableName(std::optional<std::string> value);
    static void setAppVersion(std::optional<std::string> value);
    static void setBundleIdentifier(std::optional<std::string> value);
    static void setBuildNumber(std::optional<std::string> value);

    /// The system's name (uname sysname), or "Unknown".
    static std::string osName();
    /// The system's version as "major.minor.patch" (always three numbers), or "Unknown".
    static std::string osVersion();

    /// The last non-empty '/'-separated component of `path`; nullopt when there is none.
    static std::optional<std::string> lastPathComponent(std::string_view path);
    /// "major.minor.patch" from the leading numbers of a release text ("6.1.0-13-amd64" gives
    /// "6.1.0", "17.0" gives "17.0.0"); missing numbers count as 0; nullopt when the text does
    /// not start with a number.
    static std::optional<std::string> versionTriple(std::string_view release);
};

}  // namespace kr::platform
