#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include <boost/json/parse.hpp>

namespace kr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ConversionsTest, Hexa) {
    struct Case {
        platform::Color color;
        std::uint64_t rgb;
    };
    const Case cases[] = {
        {{1, 1, 1}, 0xFFFFFF},
        {{0, 0, 0}, 0x000000},
        {{1, 0, 0}, 0xFF0000},
        {{0, 1, 0}, 0x00FF00},
        {{0, 0, 1}, 0x0000FF},
        {{0.5, 0.5, 0.5}, 0x7F7F7F},  // truncation, not rounding
        {{1, 1, 1, 0.5}, 0xFFFFFF},   // alpha plays no part
        {{1, 0, 0, 0}, 0xFF0000},
        // Out of range and NaN components are clamped instead of wrapping or overflowing.
        {{1.5, -0.5, 2e30}, 0xFF00FF},
        {{kNaN, 0.2, -kInf}, 0x003300},
        {{kInf, kNaN, kNaN, kNaN}, 0xFF0000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hexa(c.color), c.rgb)
            << c.color.red() << "," << c.color.green() << "," << c.color.blue();
    }
}

TEST(ConversionsTest, IntAndUIntValue) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> asInt;  // nullopt: not such a number
        std::optional<std::uint64_t> asUInt;
    };
    const Case cases[] = {
        {"42", 42, 42},
        {"-42", -42, std::nullopt},
        {"+42", 42, 42},
        {"0", 0, 0},
        {"-0", 0, 0},
        {"007", 7, 7},
        {" 42", std::nullopt, std::nullopt},
        {"42 ", std::nullopt, std::nullopt},
        {"4.2", std::nullopt, std::nullopt},
        {"4e2", std::nullopt, std::nullopt},
        {"0x10", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"+", std::nullopt, std::nullopt},
        {"abc", std::nullopt, std::nullopt},
        {"-1", -1, std::nullopt},
        {"9223372036854775807", INT64_MAX, 9223372036854775807u},
        {"9223372036854775808", std::nullopt, 9223372036854775808u},
        {"-9223372036854775808", INT64_MIN, std::nullopt},
        {"-9223372036854775809", std::nullopt, std::nullopt},
        {"18446744073709551615", std::nullopt, UINT64_MAX},
        {"18446744073709551616", std::nullopt, std::nullopt},
        {"99999999999999999999", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseInt(c.text), c.asInt) << '"' << c.text << '"';
        EXPECT_EQ(parseUInt(c.text), c.asUInt) << '"' << c.text << '"';
        EXPECT_EQ(intValue(c.text), c.asInt.value_or(0)) << '"' << c.text << '"';
        EXPECT_EQ(uintValue(c.text), c.asUInt.value_or(0)) << '"' << c.text << '"';
    }
    EXPECT_EQ(intValue(std::string_view("12\0"
                                        "3",
                                        4)),
              0);
}

TEST(ConversionsTest, AMediaUidIsDigitsOfANumberAboveZero) {
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"42", 42},          {"007", 7},          {"18446744073709551615", UINT64_MAX},
        {"0", std::nullopt}, {"000", std::nullopt}, {"+42", std::nullopt},
        {"-0", std::nullopt}, {" 42", std::nullopt}, {"", std::nullopt},
        {"18446744073709551616", std::nullopt},
    };
    for (const auto& [text, uid] : cases) {
        EXPECT_EQ(mediaUidOf(text), uid) << '"' << text << '"';
    }
}

TEST(ConversionsTest, SringValue) {
    EXPECT_EQ(sringValue(std::int64_t{-7}), "-7");
    EXPECT_EQ(sringValue(0), "0");
    EXPECT_EQ(sringValue(1234567), "1234567");
    EXPECT_EQ(sringValue(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(sringValue(UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(sringValue(std::uint32_t{4000000000u}), "4000000000");
    // Round trip through the parsers.
    for (std::int64_t v : {INT64_MIN, std::int64_t{-1}, std::int64_t{0}, INT64_MAX}) {
        EXPECT_EQ(intValue(sringValue(v)), v);
    }
}

TEST(ConversionsTest, AsStringAndToData) {
    struct Case {
        const char* name;
        boost::json::object dictionary;
        std::string compact;
        std::string pretty;
    };
    const Case cases[] = {
        {"empty", {}, "{}", "{}"},
        {"flat",
         {{"type", "PublicChat"}, {"n", 3}, {"ok", true}, {"none", nullptr}},
         R"({"type":"PublicChat","n":3,"ok":true,"none":null})",
         "{\n  \"type\": \"PublicChat\",\n  \"n\": 3,\n  \"ok\": true,\n  \"none\": null\n}"},
        {"nested",
         {{"a", boost::json::array{1, "x", boost::json::object{}}}, {"o", {{"k", "v"}}}},
         R"({"a":[1,"x",{}],"o":{"k":"v"}})",
         "{\n  \"a\": [\n    1,\n    \"x\",\n    {}\n  ],\n  \"o\": {\n    \"k\": \"v\"\n  }\n}"},
        {"escaped",
         {{"q\"", "line\nbreak"}},
         R"({"q\"":"line\nbreak"})",
         "{\n  \"q\\\"\": \"line\\nbreak\"\n}"},
        // Not valid UTF-8: repaired rather than thrown or dropped.
        {"bad utf-8",
         {{"m", "a\xc3"}},
         "{\"m\":\"a\xef\xbf\xbd\"}",
         "{\n  \"m\": \"a\xef\xbf\xbd\"\n}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(asString(c.dictionary), c.compact);
        auto data = toData(c.dictionary);
        ASSERT_TRUE(data.ok());
        EXPECT_EQ(data.value(), c.pretty);
        EXPECT_EQ(boost::json::parse(data.value()), boost::json::parse(c.compact));
    }
}

TEST(ConversionsTest, UnwritableNumbersFail) {
    const boost::json::object cases[] = {
        {{"x", kNaN}},
        {{"x", kInf}},
        {{"ok", 1}, {"deep", {{"list", boost::json::array{1.0, -kInf}}}}},
    };
    for (const auto& dictionary : cases) {
        EXPECT_EQ(asString(dictionary), "");
        auto data = toData(dictionary);
        ASSERT_FALSE(data.ok());
        EXPECT_FALSE(data.error().message.empty());
    }
}

}  // namespace
}  // namespace kr
