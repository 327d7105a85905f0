#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kr::platform {

class UserDefaults;

/// Stand-in for the platform's per-installation ("vendor") device identifier: a random version-4
/// UUID in upper case, made on first use and kept in the standard user-defaults suite, so it stays
/// the same across runs until that store is wiped. Thread-safe.
class DeviceIdentity {
public:
    /// The fixed identifier to use when the platform gives none.
    static constexpr std::string_view kFallbackIdentifier = "00000000-0000-4000-8000-000000000000";

    /// The identifier kept in the standard suite, made and stored on first use; nullopt when none
    /// is stored and a new one cannot be persisted.
    static std::optional<std::string> identifierForVendor();
    /// The same, kept in `defaults`.
    static std::optional<std::string> identifierForVendor(UserDefaults& defaults);

    /// `identifierForVendor()`, or `kFallbackIdentifier` when there is none.
    static std::string currentIdentifier();
    /// The same, kept in `defaults`.
    static std::string currentIdentifier(UserDefaults& defaults);

    /// A fresh random version-4 UUID in upper case ("XXXXXXXX-XXXX-4XXX-[89AB]XXX-XXXXXXXXXXXX").
    static std::string makeUuid();
    /// Whether `text` is a UUID in the standard 36-character form with upper-case digits.
    static bool isUpperCaseUuid(std::string_view text);

    /// Key of the identifier in the suite.
    static constexpr std::string_view kDefaultsKey = "kr.device.identifierForVendor";
};

}  // namespace kr::platform
