#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kr {
namespace {

/// A small nested model: "x" required, "y" lenient (default -1).
struct Point {
    int x = 0;
    int y = -1;
    static Result<Point, JsonDecodingError> fromJson(const boost::json::value& v) {
        JsonObjectReader r(v);
        Point p;
        p.x = r.required<int>("x");
        p.y = r.lenient<int>("y", -1);
        return r.finish(p);
    }
    friend bool operator==(const Point&, const Point&) = default;
};

/// Reads member "v" of `{"v": <member>}` as a required T; nullopt when that fails.
template <class T>
std::optional<T> strictValue(const std::string& member) {
    const boost::json::value doc = boost::json::parse("{\"v\":" + member + "}");
    JsonObjectReader r(doc);
    T value = r.required<T>("v");
    return r.ok() ? std::optional<T>(value) : std::nullopt;
}

template <class T>
struct StrictCase {
    const char* member;
    std::optional<T> expected;
};

TEST(JsonObjectReaderTest, StrictTypesTakeOnlyTheirOwnJsonKind) {
    const StrictCase<bool> bools[] = {
        {"true", true}, {"false", false}, {"1", std::nullopt}, {"\"true\"", std::nullopt}};
    for (const auto& c : bools) {
        EXPECT_EQ(strictValue<bool>(c.member), c.expected) << c.member;
    }

    const StrictCase<std::int64_t> int64s[] = {
        {"6", 6},
        {"6.0", 6},
        {"-0.0", 0},
        {"6.5", std::nullopt},
        {"\"6\"", std::nullopt},
        {"true", std::nullopt},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"1e19", std::nullopt},
        {"1e300", std::nullopt},
    };
    for (const auto& c : int64s) {
        EXPECT_EQ(strictValue<std::int64_t>(c.member), c.expected) << c.member;
    }

    const StrictCase<int> int32s[] = {
        {"2147483647", 2147483647}, {"2147483648", std::nullopt}, {"-2147483649", std::nullopt}};
    for (const auto& c : int32s) {
        EXPECT_EQ(strictValue<int>(c.member), c.expected) << c.member;
    }

    const StrictCase<std::uint64_t> uint64s[] = {
        {"0", 0u},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
        {"12.0", 12u},
        {"-1", std::nullopt},
        {"-1.0", std::nullopt},
        {"1.5", std::nullopt},
        {"\"12\"", std::nullopt},
    };
    for (const auto& c : uint64s) {
        EXPECT_EQ(strictValue<std::uint64_t>(c.member), c.expected) << c.member;
    }

    const StrictCase<double> doubles[] = {{"10", 10.0},
                                          {"-2.5", -2.5},
                                          {"18446744073709551615", 18446744073709551615.0},
                                          {"\"10\"", std::nullopt},
                                          {"false", std::nullopt}};
    for (const auto& c : doubles) {
        EXPECT_EQ(strictValue<double>(c.member), c.expected) << c.member;
    }

    const StrictCase<float> floats[] = {{"2.5", 2.5f}, {"1e300", std::nullopt}};
    for (const auto& c : floats) {
        EXPECT_EQ(strictValue<float>(c.member), c.expected) << c.member;
    }

    const StrictCase<std::string> strings[] = {
        {"\"abc\"", "abc"}, {"\"\"", ""}, {"1", std::nullopt}, {"[\"a\"]", std::nullopt}};
    for (const auto& c : strings) {
        EXPECT_EQ(strictValue<std::string>(c.member), c.expected) << c.member;
    }
}

TEST(JsonObjectReaderTest, FourRulesOnMissingNullWrongAndGoodValues) {
    struct Case {
        const char* doc;
        bool requiredOk;
        int lenient;  // fallback 7
        bool optionalOk;
        std::optional<int> optional;
        std::optional<int> lenientOptional;
    };
    const Case cases[] = {
        {"{}", false, 7, true, std::nullopt, std::nullopt},
        {R"({"k": null})", false, 7, true, std::nullopt, std::nullopt},
        {R"({"k": 5})", true, 5, true, 5, 5},
        {R"({"k": "5"})", false, 7, false, std::nullopt, std::nullopt},
        {R"({"k": 5.5})", false, 7, false, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const boost::json::value doc = boost::json::parse(c.doc);
        JsonObjectReader required(doc);
        required.required<int>("k");
        EXPECT_EQ(required.ok(), c.requiredOk) << c.doc;

        JsonObjectReader lenient(doc);
        EXPECT_EQ(lenient.lenient<int>("k", 7), c.lenient) << c.doc;
        EXPECT_EQ(lenient.lenientOptional<int>("k"), c.lenientOptional) << c.doc;
        EXPECT_TRUE(lenient.ok()) << c.doc;

        JsonObjectReader optional(doc);
        EXPECT_EQ(optional.optional<int>("k"), c.optional) << c.doc;
        EXPECT_EQ(optional.ok(), c.optionalOk) << c.doc;
    }
}

TEST(JsonObjectReaderTest, NestedModelsAndListsFollowTheRules) {
    const boost::json::value doc = boost::json::parse(R"({
        "good": {"x": 1, "y": "not an int"},
        "bad": {"y": 2},
        "notObject": "text",
        "pts": [{"x": 1}, {"y": 2}, {"x": 3, "y": 4}],
        "okPts": [{"x": 1}, {"x": 2, "y": 3}],
        "notArray": {"x": 1}
    })");

    JsonObjectReader r(doc);
    EXPECT_EQ(r.required<Point>("good"), (Point{1, -1}));
    // Lenient swallows a failing nested value, also inside lists (all or nothing).
    EXPECT_EQ(r.lenient<Point>("bad", Point{9, 9}), (Point{9, 9}));
    EXPECT_EQ(r.lenientOptional<Point>("notObject"), std::nullopt);
    EXPECT_TRUE(r.lenient<std::vector<Point>>("pts", {}).empty());
    EXPECT_EQ(r.lenient<std::vector<Point>>("okPts", {}), (std::vector<Point>{{1, -1}, {2, 3}}));
    EXPECT_TRUE(r.ok());

    // Element-wise lists keep the good elements and say how many were dropped.
    const auto lossy = r.lossyList<Point>("pts");
    EXPECT_EQ(lossy.elements, (std::vector<Point>{{1, -1}, {3, 4}}));
    EXPECT_EQ(lossy.droppedCount, 1u);
    EXPECT_TRUE(lossy.droppedElements());
    const auto complete = r.lossyList<Point>("okPts");
    EXPECT_EQ(complete.elements.size(), 2u);
    EXPECT_FALSE(complete.droppedElements());
    const auto missing = r.lossyList<Point>("nothing");
    EXPECT_TRUE(missing.elements.empty());
    EXPECT_FALSE(missing.droppedElements());
    const auto malformed = r.lossyList<Point>("notArray");
    EXPECT_TRUE(malformed.elements.empty());
    EXPECT_TRUE(malformed.malformed);
    EXPECT_TRUE(malformed.droppedElements());
    EXPECT_TRUE(r.ok());

    // A required list fails on its first bad element, and the error names the full path.
    r.required<std::vector<Point>>("pts");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error()->key, "pts[1].x");
    // The first failure is kept.
    r.required<Point>("bad");
    EXPECT_EQ(r.error()->key, "pts[1].x");
    EXPECT_FALSE(r.finish(1).ok());
}

TEST(JsonObjectReaderTest, ErrorsNameTheKeyPath) {
    struct Case {
        const char* doc;
        const char* key;
    };
    // Reads "outer" as a required object, then "inner" inside it as a required Point.
    const Case cases[] = {
        {R"({"outer": {"inner": {"x": "1"}}})", "outer.inner.x"},
        {R"({"outer": {"inner": null}})", "outer.inner"},
        {R"({"outer": {}})", "outer.inner"},
        {R"({"outer": []})", "outer"},
        {R"({})", "outer"},
        {R"([])", ""},
    };
    for (const auto& c : cases) {
        const boost::json::value doc = boost::json::parse(c.doc);
        JsonObjectReader r(doc);
        auto outer = r.object("outer");
        outer.required<Point>("inner");
        ASSERT_FALSE(r.ok()) << c.doc;
        EXPECT_EQ(r.error()->key, c.key) << c.doc;
        EXPECT_FALSE(r.error()->describe().empty());
    }

    // A lenient nested object keeps its failures to itself.
    const boost::json::value doc = boost::json::parse(R"({"opt": {"x": "1"}, "s": "str"})");
    JsonObjectReader r(doc, "reply");
    auto opt = r.lenientObject("opt");
    opt.required<int>("x");
    EXPECT_FALSE(opt.ok());
    auto notObject = r.lenientObject("s");
    EXPECT_EQ(notObject.lenient<int>("x", 3), 3);
    EXPECT_TRUE(r.ok());
    r.required<int>("s");
    EXPECT_EQ(r.error()->key, "reply.s");
}

TEST(JsonObjectReaderTest, DecodeJsonFromTextNeverThrows) {
    EXPECT_EQ(decodeJson<Point>(R"({"x": 4})").value(), (Point{4, -1}));
    const char* bad[] = {"", "{", "{\"x\": 1,}", "nul", "{\"x\": 1} trailing"};
    for (const char* text : bad) {
        auto result = decodeJson<Point>(text);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error().key, "") << text;
    }
    auto lossy = decodeJson<JsonLossyList<Point>>(R"([{"x": 1}, 5, {"x": 2}])");
    ASSERT_TRUE(lossy.ok());
    EXPECT_EQ(lossy->elements.size(), 2u);
    EXPECT_EQ(lossy->droppedCount, 1u);
    EXPECT_FALSE(decodeJson<JsonLossyList<Point>>("{}").ok());
}

TEST(JsonObjectReaderTest, KeysAreFoundWhateverTheOrderOfReading) {
    // Reads in sending order, backwards, with misses in between, and twice the same key; a key
    // sent twice counts once, with its last value. Large objects take the hashed lookup.
    std::string large = R"({"dup": 1, "a": 2, "b": 3, "dup": 4)";
    for (int i = 0; i < 40; ++i) {
        large += ", \"k" + std::to_string(i) + "\": " + std::to_string(i);
    }
    large += "}";
    for (const std::string& text :
         {std::string(R"({"dup": 1, "a": 2, "b": 3, "dup": 4})"), large}) {
        const boost::json::value doc = boost::json::parse(text);
        JsonObjectReader r(doc);
        const std::vector<std::pair<const char*, int>> reads = {
            {"a", 2}, {"b", 3}, {"dup", 4}, {"zz", -1}, {"b", 3}, {"a", 2}, {"dup", 4}, {"", -1}};
        for (const auto& [key, expected] : reads) {
            EXPECT_EQ(r.lenient<int>(key, -1), expected) << key << " in " << text.size();
        }
        EXPECT_TRUE(r.ok());
    }
}

TEST(JsonObjectReaderTest, IdTextTakesAStringOrAWholeNonNegativeNumber) {
    const std::vector<std::pair<const char*, std::optional<std::string>>> cases = {
        {R"({"id": "share-7"})", "share-7"},
        {R"({"id": ""})", ""},
        {R"({"id": "12"})", "12"},
        {R"({"id": 12})", "12"},
        {R"({"id": 12.0})", "12"},
        {R"({"id": 18446744073709551615})", "18446744073709551615"},
        {R"({"id": 0})", "0"},
        {R"({"id": -1})", std::nullopt},
        {R"({"id": 1.5})", std::nullopt},
        {R"({"id": true})", std::nullopt},
        {R"({"id": null})", std::nullopt},
        {R"({"id": [1]})", std::nullopt},
        {R"({})", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const boost::json::value doc = boost::json::parse(text);
        JsonObjectReader r(doc);
        EXPECT_EQ(r.lenientIdText("id"), expected) << text;
        EXPECT_TRUE(r.ok()) << text;
    }
}

TEST(JsonObjectReaderTest, KeptJsonValuesOutliveTheDecodedDocument) {
    // The document is freed when the decode ends; what a model keeps must not point into it.
    auto kept = decodeJson<std::map<std::string, boost::json::value>>(
        R"({"settings": {"name": "a rather long text that does not fit inline", "list": [1, 2]}})");
    ASSERT_TRUE(kept.ok());
    boost::json::value settings = kept->at("settings");
    EXPECT_EQ(settings.storage().get(), boost::json::storage_ptr().get());
    settings.as_object()["list"].as_array().emplace_back("grows after the decode");
    EXPECT_EQ(settings.at("name").as_string(), "a rather long text that does not fit inline");
    auto object = decodeJson<boost::json::object>(R"({"k": "another text longer than inline"})");
    ASSERT_TRUE(object.ok());
    EXPECT_EQ(object->storage().get(), boost::json::storage_ptr().get());
}

TEST(JsonObjectReaderTest, DatesAreSecondsSince2001) {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    const auto reference = std::chrono::system_clock::time_point{seconds{978307200}};
    struct Case {
        const char* member;
        std::optional<std::chrono::system_clock::time_point> expected;
    };
    const Case cases[] = {
        {"0", reference},
        {"86400.5", reference + seconds{86400} + milliseconds{500}},
        {"-978307200", std::chrono::system_clock::time_point{}},
        {"\"0\"", std::nullopt},
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
        {"-9.5e9", std::nullopt},  // fits the clock, but its distance from 2001 does not
        {"9.3e9", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(strictValue<std::chrono::system_clock::time_point>(c.member), c.expected)
            << c.member;
    }
    EXPECT_DOUBLE_EQ(JsonDate::toReferenceSeconds(reference + seconds{90}), 90.0);
    // Dates centuries before the reference date convert without overflow, the clock's first
    // instant included.
    const auto epoch = std::chrono::system_clock::time_point{};
    const struct {
        std::chrono::system_clock::time_point date;
        double seconds;
    } old[] = {
        {epoch - seconds{9'000'000'000}, -9'978'307'200.0},
        {epoch - seconds{9'000'000'000} + milliseconds{250}, -9'978'307'199.75},
        {std::chrono::system_clock::time_point::min(), -9'223'372'036.854775808 - 978'307'200.0},
        {std::chrono::system_clock::time_point::max(), 9'223'372'036.854775807 - 978'307'200.0},
    };
    for (const auto& c : old) {
        EXPECT_DOUBLE_EQ(JsonDate::toReferenceSeconds(c.date), c.seconds) << c.seconds;
    }
    // Whatever decodes converts back to the seconds it came from.
    for (const double s : {-9.2e9, -8.0e9, 8.0e9, 9.2e9}) {
        if (const auto date = JsonDate::fromReferenceSeconds(s)) {
            EXPECT_NEAR(JsonDate::toReferenceSeconds(*date), s, 1e-3 * std::abs(s)) << s;
        }
    }
}

}  // namespace
}  // namespace kr
