#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kr {

/// URL scheme of the meeting service. Requests are always built with `https`.
enum class KRApiServerScheme { https, http };

/// "https" or "http".
std::string_view rawValue(KRApiServerScheme scheme);

/// Exact, case-sensitive match of a raw value.
std::optional<KRApiServerScheme> krApiServerSchemeFromRaw(std::string_view raw);

/// The scheme followed by "://".
std::string getUrlValue(KRApiServerScheme scheme);

}  // namespace kr
