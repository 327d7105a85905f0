#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <limits>
#include <string>

namespace kr {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(JsonEncodingTest, InvalidUtf8IsRepairedSoTheOutputParses) {
    struct Case {
        std::string input;
        std::string repaired;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"\xFF", kFffd},
        {"a\xC3", "a" + kFffd},                               // truncated at the end
        {"\xC0\xAF", kFffd + kFffd},                          // overlong form
        {"\xED\xA0\x80x", kFffd + kFffd + kFffd + "x"},       // encoded surrogate
        {"\xE2\x82x", kFffd + "x"},                           // one maximal subpart
        {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonEncoding::toValidUtf8(c.input), c.repaired) << c.input;
        EXPECT_EQ(JsonEncoding::isValidUtf8(c.input), c.input == c.repaired) << c.input;

        boost::json::object doc;
        doc["text"] = c.input;
        doc[c.input] = 1;  // keys are repaired too
        const std::string text = serializeJson(doc);
        ASSERT_FALSE(text.empty());
        boost::system::error_code ec;
        const boost::json::value back = boost::json::parse(text, ec);
        ASSERT_FALSE(ec) << text;
        EXPECT_EQ(back.at("text").as_string(), c.repaired);
        EXPECT_TRUE(back.as_object().contains(c.repaired));
    }
}

TEST(JsonEncodingTest, SerializeKeepsOrderAndNeverEmitsInvalidNumbers) {
    boost::json::object doc;
    doc["zeta"] = 1;
    doc["alpha"] = boost::json::array{std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity(), 3};
    doc["mid"] = "x";
    EXPECT_EQ(serializeJson(doc), R"({"zeta":1,"alpha":[null,null,3],"mid":"x"})");
}

TEST(JsonEncodingTest, NumbersUseTheShortestOrdinaryForm) {
    struct Case {
        boost::json::value number;
        const char* text;
    };
    const Case cases[] = {
        {2.5, "2.5"},
        {1.0, "1"},
        {0.1, "0.1"},
        {-0.5, "-0.5"},
        {123456789.0, "123456789"},
        {1e300, "1e+300"},
        {1e-7, "1e-07"},
        {std::int64_t{-7}, "-7"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
        {std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serializeJson(c.number), c.text);
        // The text reads back as the same number.
        EXPECT_EQ(boost::json::parse(c.text).to_number<double>(), c.number.to_number<double>());
    }
}

TEST(JsonEncodingTest, EscapeGivesTheBodyOfAStringLiteral) {
    struct Case {
        std::string input;
        std::string escaped;
    };
    const Case cases[] = {
        {"a\"b\\c", "a\\\"b\\\\c"},
        {"\n\r\t\b\f", "\\n\\r\\t\\b\\f"},
        {std::string("\x01\x1f", 2), "\\u0001\\u001f"},
        {"/ \xC3\xA9", "/ \xC3\xA9"},
        {"\xFF", kFffd},
        // Plain runs between escapes and multi-byte or broken sequences.
        {"ab\xC3\xA9" "cd\"e", "ab\xC3\xA9" "cd\\\"e"},
        {"x\xE2\x82y", "x" + std::string(kFffd) + "y"},
        {"\xC3\xA9\x01\xC3\xA9\x7f~", "\xC3\xA9\\u0001\xC3\xA9\x7f~"},
        {"end\xC3", "end" + std::string(kFffd)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jsonEscape(c.input), c.escaped);
        const boost::json::value back = boost::json::parse("\"" + jsonEscape(c.input) + "\"");
        EXPECT_EQ(back.as_string(), JsonEncoding::toValidUtf8(c.input));
    }
}

}  // namespace
}  // namespace kr
