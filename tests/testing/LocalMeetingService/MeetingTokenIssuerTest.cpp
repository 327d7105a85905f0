// The service's tokens: only what this issuer signed, byte for byte, is accepted.

#include "testing/LocalMeetingService/MeetingTokenIssuer.h"

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>
#include <string>
#include <vector>

namespace kr::test {
namespace {

TEST(MeetingTokenIssuerTest, AcceptsOnlyItsOwnUnalteredTokens) {
    const MeetingTokenIssuer issuer;
    const std::string token = issuer.issue(boost::json::object{{"sub", "guest-1"}});
    const auto payload = issuer.verify(token);
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(payload->at("sub").as_string(), "guest-1");
    EXPECT_TRUE(payload->at("iat").is_int64());

    const auto firstDot = token.find('.');
    const auto lastDot = token.rfind('.');
    const std::string otherClaims = token.substr(0, firstDot + 1) +
                                    MeetingTokenIssuer::base64UrlEncode(boost::json::serialize(
                                        boost::json::object{{"sub", "guest-2"}})) +
                                    token.substr(lastDot);
    // A 32-byte signature ends in a character whose two low bits are unused (always zero);
    // setting one must not give a second text for the same signature.
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string paddingBit = token;
    paddingBit.back() = alphabet[alphabet.find(token.back()) + 1];

    struct Case {
        const char* name;
        std::string token;
    };
    const std::vector<Case> refused = {
        {"another issuer's token", MeetingTokenIssuer().issue(boost::json::object{})},
        {"claims swapped under the same signature", otherClaims},
        {"unused signature bit set", paddingBit},
        {"two parts only", token.substr(0, lastDot)},
        {"empty", ""},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(issuer.verify(c.token).has_value()) << c.name;
    }
}

}  // namespace
}  // namespace kr::test
