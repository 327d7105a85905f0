#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"

#include "platform/Defaults/UserDefaults.h"
#include "platform/Device/DeviceIdentity.h"

namespace kr {

std::string getDeviceId(const KRDependencies& dependencies) {
    const auto directory = dependencies.storageDirectory.empty()
                               ? platform::UserDefaults::directory()
                               : dependencies.storageDirectory;
    return platform::DeviceIdentity::currentIdentifier(*platform::UserDefaults::standard(directory));
}

}  // namespace kr
