#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"

#include <cassert>

#include "platform/Defaults/UserDefaults.h"
#include "platform/Device/DeviceIdentity.h"

namespace kr {

std::string getDeviceId(const KRDependencies& dependencies) {
    assert(!dependencies.storageDirectory.empty());
    return platform::DeviceIdentity::currentIdentifier(
        *platform::UserDefaults::standard(dependencies.storageDirectory));
}

}  // namespace kr
