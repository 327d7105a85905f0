#include "platform/Device/DeviceIdentity.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <random>

#include "platform/Defaults/UserDefaults.h"

namespace kr::platform {

namespace {

void randomBytes(std::array<std::uint8_t, 16>& bytes) {
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) == 1) {
        return;
    }
    std::random_device device;
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(device());
    }
}

}  // namespace

std::string DeviceIdentity::makeUuid() {
    std::array<std::uint8_t, 16> bytes{};
    randomBytes(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

bool DeviceIdentity::isUpperCaseUuid(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> DeviceIdentity::identifierForVendor(UserDefaults& defaults) {
    // Serialises first use so that concurrent callers agree on one identifier.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (auto stored = defaults.string(kDefaultsKey); stored && isUpperCaseUuid(*stored)) {
        return stored;
    }
    std::string fresh = makeUuid();
    if (!defaults.set(kDefaultsKey, fresh)) {
        // Not persisted: a value that would change on the next run is no identifier; forget it.
        defaults.remove(kDefaultsKey);
        return std::nullopt;
    }
    return fresh;
}

std::optional<std::string> DeviceIdentity::identifierForVendor() {
    return identifierForVendor(*UserDefaults::standard());
}

std::string DeviceIdentity::currentIdentifier() {
    return currentIdentifier(*UserDefaults::standard());
}

std::string DeviceIdentity::currentIdentifier(UserDefaults& defaults) {
    return identifierForVendor(defaults).value_or(std::string(kFallbackIdentifier));
}

}  // namespace kr::platform
