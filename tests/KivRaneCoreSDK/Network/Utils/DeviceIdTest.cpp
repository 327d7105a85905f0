#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"

#include <gtest/gtest.h>

#include "platform/Device/DeviceIdentity.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

TEST(DeviceIdTest, KeptPerStorageDirectory) {
    test::ScopedTempDirectory one;
    test::ScopedTempDirectory other;
    KRDependencies first;
    first.storageDirectory = one.path();
    KRDependencies second;
    second.storageDirectory = other.path();

    const std::string id = getDeviceId(first);
    EXPECT_TRUE(platform::DeviceIdentity::isUpperCaseUuid(id)) << id;
    EXPECT_EQ(getDeviceId(first), id) << "kept, not made anew";
    EXPECT_NE(getDeviceId(second), id) << "another installation, another id";
}

}  // namespace
}  // namespace kr
