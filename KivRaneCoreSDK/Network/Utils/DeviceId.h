#pragma once

#include <string>

#include "KivRaneCoreSDK/Common/KRDependencies.h"

namespace kr {

/// This installation's id for the "deviceId" header and the status post: an upper-case UUID
/// made on first use and kept in the standard user-defaults suite of the dependencies' storage
/// directory (required), or a fixed fallback UUID when it cannot be kept. Any thread.
std::string getDeviceId(const KRDependencies& dependencies);

}  // namespace kr
