#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"

#include "platform/Device/DeviceIdentity.h"

namespace kr {

std::string getDeviceId() {
    return platform::DeviceIdentity::currentIdentifier();
}

}  // namespace kr
