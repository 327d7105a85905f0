#pragma once

#include <optional>
#include <string_view>

namespace kr {

/// HTTP method of a REST request; the raw value is the method text sent on the wire.
enum class KRHTTPMethod { get, post, put, delete_ };

/// "GET", "POST", "PUT" or "DELETE".
std::string_view rawValue(KRHTTPMethod method);

/// Exact, case-sensitive match of a raw value.
std::optional<KRHTTPMethod> krHTTPMethodFromRaw(std::string_view raw);

}  // namespace kr
