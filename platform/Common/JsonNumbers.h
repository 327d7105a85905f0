#pragma once

#include <boost/json/value.hpp>

namespace kr::platform {

/// False when `v` holds, at any depth, a NaN or an infinity: JSON has no spelling for them, so a
/// document holding one cannot be written and read back. The one check both the library's JSON
/// kit and the persisted settings use before writing.
bool allNumbersFinite(const boost::json::value& v) noexcept;

}  // namespace kr::platform
