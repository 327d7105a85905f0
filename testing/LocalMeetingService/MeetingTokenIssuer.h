#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kr::test {

/// Issues and checks the JSON Web Tokens of the local meeting service: HS256 over a random key
/// made per issuer, so a token is accepted only by the service that issued it.
///
/// Threading: `issue` and `verify` may be called from any thread (the key never changes).
class MeetingTokenIssuer {
public:
    MeetingTokenIssuer();

    /// A compact JWT ("header.payload.signature", base64url without padding) whose payload is
    /// `claims` plus "iat" (seconds since 1970).
    std::string issue(boost::json::object claims) const;

    /// The payload of a token this issuer signed; nullopt for anything else.
    std::optional<boost::json::object> verify(std::string_view token) const;

    static std::string base64UrlEncode(std::string_view bytes);
    /// The bytes of canonical base64url text (no padding); nullopt for anything else.
    static std::optional<std::string> base64UrlDecode(std::string_view text);

private:
    std::string sign(std::string_view signingInput) const;

    std::string key_;
};

}  // namespace kr::test
