#pragma once

#include <string>

namespace kr {

/// The identifier of this installation that the status report and the "deviceId" header carry:
/// the persisted per-installation identifier of the platform layer (an upper-case UUID made on
/// first use), or a fixed fallback UUID when none can be kept. Asks the platform on every call.
/// Any thread.
std::string getDeviceId();

}  // namespace kr
