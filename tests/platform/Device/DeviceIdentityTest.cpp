#include "platform/Device/DeviceIdentity.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/Defaults/UserDefaults.h"
#include "testing/ScopedTempDirectory.h"

namespace kr::platform {
namespace {

class DeviceIdentityTest : public ::testing::Test {
protected:
    test::ScopedTempDirectory dir_;
    std::shared_ptr<UserDefaults> defaults_ = UserDefaults::standard(dir_.path());
};

TEST_F(DeviceIdentityTest, UuidsAreVersionFourUpperCaseAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string id = DeviceIdentity::makeUuid();
        ASSERT_TRUE(DeviceIdentity::isUpperCaseUuid(id)) << id;
        EXPECT_EQ(id[14], '4') << id;
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST_F(DeviceIdentityTest, MadeOnceAndKeptInTheStandardSuite) {
    const auto first = DeviceIdentity::identifierForVendor(*defaults_);
    ASSERT_TRUE(first);
    EXPECT_EQ(DeviceIdentity::identifierForVendor(*defaults_), first);
    EXPECT_EQ(DeviceIdentity::currentIdentifier(*defaults_), *first);

    // A later run reads the same identifier from disk.
    EXPECT_EQ(DeviceIdentity::identifierForVendor(*UserDefaults::standard(dir_.path() / ".")),
              first);
}

TEST_F(DeviceIdentityTest, MalformedStoredValueIsReplaced) {
    auto& defaults = defaults_;
    defaults->set(DeviceIdentity::kDefaultsKey, "not-a-uuid");
    const auto id = DeviceIdentity::identifierForVendor(*defaults);
    ASSERT_TRUE(id);
    EXPECT_TRUE(DeviceIdentity::isUpperCaseUuid(*id));
    EXPECT_EQ(defaults->string(DeviceIdentity::kDefaultsKey), id);
}

TEST_F(DeviceIdentityTest, FallsBackOnlyWhenNothingCanBePersisted) {
    std::ofstream(dir_.path() / "plain-file") << "x";
    auto unwritable = UserDefaults::standard(dir_.path() / "plain-file" / "below");
    EXPECT_EQ(DeviceIdentity::identifierForVendor(*unwritable), std::nullopt);
    EXPECT_EQ(DeviceIdentity::currentIdentifier(*unwritable), DeviceIdentity::kFallbackIdentifier);
    EXPECT_EQ(DeviceIdentity::currentIdentifier(*unwritable), DeviceIdentity::kFallbackIdentifier);
}

TEST_F(DeviceIdentityTest, ConcurrentFirstUseAgrees) {
    std::vector<std::optional<std::string>> ids(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        threads.emplace_back(
            [this, &ids, i] { ids[i] = DeviceIdentity::identifierForVendor(*defaults_); });
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_TRUE(ids[0]);
    for (const auto& id : ids) {
        EXPECT_EQ(id, ids[0]);
    }
}

}  // namespace
}  // namespace kr::platform
