#include "testing/LocalMeetingService/MeetingTokenIssuer.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <stdexcept>

namespace kr::test {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int alphabetIndex(char c) {
    const auto at = kAlphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

MeetingTokenIssuer::MeetingTokenIssuer() : key_(32, '\0') {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key_.data()), static_cast<int>(key_.size())) !=
        1) {
        throw std::runtime_error("RAND_bytes");
    }
}

std::string MeetingTokenIssuer::base64UrlEncode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(kAlphabet[(n >> 6) & 63]);
        out.push_back(kAlphabet[n & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) {
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        if (rest == 2) {
            out.push_back(kAlphabet[(n >> 6) & 63]);
        }
    }
    return out;
}

std::optional<std::string> MeetingTokenIssuer::base64UrlDecode(std::string_view text) {
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        const int value = alphabetIndex(c);
        if (value < 0) {
            return std::nullopt;
        }
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    // Only the canonical text of some bytes decodes: leftover bits must be zero, so that no two
    // different signatures are read as the same bytes.
    if ((buffer & ((1u << bits) - 1u)) != 0) {
        return std::nullopt;
    }
    return out;
}

std::string MeetingTokenIssuer::sign(std::string_view signingInput) const {
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
         reinterpret_cast<const unsigned char*>(signingInput.data()), signingInput.size(),
         mac.data(), &length);
    return std::string(reinterpret_cast<const char*>(mac.data()), length);
}

std::string MeetingTokenIssuer::issue(boost::json::object claims) const {
    claims["iat"] = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::string header = base64UrlEncode(R"({"alg":"HS256","typ":"JWT"})");
    const std::string payload = base64UrlEncode(boost::json::serialize(claims));
    const std::string signingInput = header + "." + payload;
    return signingInput + "." + base64UrlEncode(sign(signingInput));
}

std::optional<boost::json::object> MeetingTokenIssuer::verify(std::string_view token) const {
    const auto firstDot = token.find('.');
    const auto lastDot = token.rfind('.');
    if (firstDot == std::string_view::npos || firstDot == lastDot) {
        return std::nullopt;
    }
    const std::string_view signingInput = token.substr(0, lastDot);
    const auto signature = base64UrlDecode(token.substr(lastDot + 1));
    const std::string expected = sign(signingInput);
    if (!signature || signature->size() != expected.size() ||
        CRYPTO_memcmp(signature->data(), expected.data(), expected.size()) != 0) {
        return std::nullopt;
    }
    const auto payload = base64UrlDecode(token.substr(firstDot + 1, lastDot - firstDot - 1));
    if (!payload) {
        return std::nullopt;
    }
    boost::system::error_code ec;
    boost::json::value parsed = boost::json::parse(*payload, ec);
    if (ec || !parsed.is_object()) {
        return std::nullopt;
    }
    return std::move(parsed.as_object());
}

}  // namespace kr::test
