#pragma once

#include <string_view>

#include <boost/json/parse_options.hpp>
#include <boost/json/storage_ptr.hpp>
#include <boost/json/value.hpp>
#include <boost/system/error_code.hpp>

namespace kr::platform {

/// False when `v` holds, at any depth, a NaN or an infinity: JSON has no spelling for them, so a
/// document holding one cannot be written and read back. The one check both the library's JSON
/// kit and the persisted settings use before writing.
bool allNumbersFinite(const boost::json::value& v) noexcept;

/// Parses one JSON document like `boost::json::parse`, except that a number with a fraction or
/// an exponent becomes the double nearest to its text: Boost's own reader may be off by a unit
/// or two in the last place, so a double written out and read back would drift. A number too
/// large or too small for a double keeps whatever Boost's reader made of it. On failure `ec` is
/// set and the result is null. The document's memory comes from `storage` (the default resource
/// when empty). Throws only when memory runs out.
boost::json::value parseJson(std::string_view text, boost::system::error_code& ec,
                             const boost::json::parse_options& options = {},
                             boost::json::storage_ptr storage = {});

}  // namespace kr::platform
