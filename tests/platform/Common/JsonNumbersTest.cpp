#include "platform/Common/JsonNumbers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace kr::platform {
namespace {

// Finite doubles spread over every exponent, with a few values written the way people do.
std::vector<double> randomDoubles(std::size_t count) {
    std::mt19937_64 random(20240501);
    std::vector<double> out{0.1, 0.3, 1.0 / 3, 2.5e-308, 4.9e-324, 1.7976931348623157e308,
                            -0.0, 123456.789, 1e22, 9007199254740993.0};
    while (out.size() < count) {
        const double d = std::bit_cast<double>(random());
        if (std::isfinite(d)) {
            out.push_back(d);
        }
    }
    return out;
}

TEST(JsonNumbersTest, DoublesComeBackBitForBitAfterWriteAndRead) {
    const auto doubles = randomDoubles(20000);
    boost::json::array written(doubles.begin(), doubles.end());
    boost::system::error_code ec;
    const boost::json::value read = parseJson(boost::json::serialize(written), ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(read.is_array());
    ASSERT_EQ(read.get_array().size(), doubles.size());
    std::size_t drifted = 0;
    for (std::size_t i = 0; i < doubles.size(); ++i) {
        const auto& v = read.get_array()[i];
        ASSERT_TRUE(v.is_double()) << i;
        if (std::bit_cast<std::uint64_t>(v.get_double()) !=
            std::bit_cast<std::uint64_t>(doubles[i])) {
            ++drifted;
            ADD_FAILURE_AT(__FILE__, __LINE__)
                << boost::json::serialize(written[i]) << " read as " << v.get_double();
            if (drifted > 5) {
                break;
            }
        }
    }
}

TEST(JsonNumbersTest, EverythingButDoublesReadsAsBoostReadsIt) {
    const char* documents[] = {
        R"({"a":[1,-2,18446744073709551615,-9223372036854775808,true,false,null]})",
        R"({"s":"esc\"aped \u00e9 \ud83d\ude00","nested":{"k":[[],{}]}})",
        R"( [ 1e400 , -1e400 , 1e-400 , 12345678901234567890123 ] )",
        R"(-0.0)",
        R"("plain")",
    };
    for (const char* text : documents) {
        boost::system::error_code ec;
        const boost::json::value ours = parseJson(text, ec);
        ASSERT_FALSE(ec) << text << ": " << ec.message();
        EXPECT_EQ(ours, boost::json::parse(text)) << text;
    }
}

TEST(JsonNumbersTest, FailuresAndOptionsMatchBoost) {
    struct Case {
        std::string text;
        boost::json::parse_options options;
    };
    boost::json::parse_options shallow;
    shallow.max_depth = 2;
    boost::json::parse_options raw;
    raw.allow_invalid_utf8 = true;
    const Case cases[] = {
        {"", {}},          {"{", {}},          {"[1,]", {}},       {"1 2", {}},
        {"{\"x\":1} x", {}}, {"nul", {}},      {"[[[1]]]", shallow}, {"[[1]]", shallow},
        {"\"caf\xe9\"", {}}, {"\"caf\xe9\"", raw}, {"1.5e", {}},   {"[1.25, 2.5]  ", {}},
    };
    for (const auto& c : cases) {
        boost::system::error_code ours;
        boost::system::error_code theirs;
        const boost::json::value a = parseJson(c.text, ours, c.options);
        const boost::json::value b = boost::json::parse(c.text, theirs, {}, c.options);
        EXPECT_EQ(static_cast<bool>(ours), static_cast<bool>(theirs)) << c.text;
        EXPECT_EQ(a, b) << c.text;
        if (ours) {
            EXPECT_TRUE(a.is_null()) << c.text;
        }
    }
}

}  // namespace
}  // namespace kr::platform
