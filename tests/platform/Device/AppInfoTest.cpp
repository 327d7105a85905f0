#include "platform/Device/AppInfo.h"

#include <errno.h>
#include <gtest/gtest.h>

namespace kr::platform {
namespace {

TEST(AppInfoTest, VersionTripleFromReleaseText) {
    struct Case {
        const char* release;
        std::optional<std::string> triple;
    };
    const Case cases[] = {
        {"6.1.0-13-amd64", "6.1.0"},
        {"17.0", "17.0.0"},
        {"17", "17.0.0"},
        {"5.15.153.1-microsoft-standard-WSL2", "5.15.153"},
        {"4.19.", "4.19.0"},
        {"6.x", "6.0.0"},
        {"007.1.2", "7.1.2"},
        {"", std::nullopt},
        {"v6.1", std::nullopt},
        {"99999999999999999999999.1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppInfo::versionTriple(c.release), c.triple) << c.release;
    }
}

TEST(AppInfoTest, LastPathComponentSkipsEmptyComponents) {
    struct Case {
        const char* path;
        std::optional<std::string> component;
    };
    const Case cases[] = {
        {"/usr/bin/host-app", "host-app"},
        {"host-app", "host-app"},
        {"./bin/host-app/", "host-app"},
        {"/", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppInfo::lastPathComponent(c.path), c.component) << c.path;
    }
}

TEST(AppInfoTest, HostEntriesFallBackToUnknown) {
    for (auto set : {&AppInfo::setAppVersion, &AppInfo::setBundleIdentifier,
                     &AppInfo::setBuildNumber, &AppInfo::setExecutableName}) {
        set(std::nullopt);  // whatever an earlier test left
    }
    EXPECT_EQ(AppInfo::appVersion(), "Unknown");
    EXPECT_EQ(AppInfo::bundleIdentifier(), "Unknown");
    EXPECT_EQ(AppInfo::buildNumber(), "Unknown");
    EXPECT_EQ(AppInfo::executableName(), program_invocation_short_name);  // launch argument

    AppInfo::setAppVersion("2.3");
    AppInfo::setBundleIdentifier("com.example.host");
    AppInfo::setBuildNumber("");
    AppInfo::setExecutableName("Host");
    EXPECT_EQ(AppInfo::appVersion(), "2.3");
    EXPECT_EQ(AppInfo::bundleIdentifier(), "com.example.host");
    EXPECT_EQ(AppInfo::buildNumber(), "");  // set, even if empty
    EXPECT_EQ(AppInfo::executableName(), "Host");

    AppInfo::setAppVersion(std::nullopt);
    AppInfo::setBundleIdentifier(std::nullopt);
    AppInfo::setBuildNumber(std::nullopt);
    AppInfo::setExecutableName(std::nullopt);
    EXPECT_EQ(AppInfo::appVersion(), "Unknown");
    EXPECT_EQ(AppInfo::buildNumber(), "Unknown");
}

}  // namespace
}  // namespace kr::platform
