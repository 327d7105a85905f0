#include "platform/Defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>

#include "support/ScopedTempDirectory.h"

namespace kr::platform {
namespace {

// Points every suite at a fresh directory for the test, and restores the default afterwards.
class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::setDirectory(dir_.path()); }
    void TearDown() override { UserDefaults::setDirectory({}); }

    static boost::json::value readFile(const std::filesystem::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        boost::system::error_code ec;
        return boost::json::parse(text.str(), ec);
    }

    static void writeFile(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    test::ScopedTempDirectory dir_;
};

TEST_F(UserDefaultsTest, TypedReadsFollowTheStoredJsonType) {
    auto d = UserDefaults::suite("group.test");
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->set("s", "text"));
    ASSERT_TRUE(d->set("b", true));
    ASSERT_TRUE(d->set("i", 42));
    ASSERT_TRUE(d->set("d", 2.5));
    ASSERT_TRUE(d->set("w", 6.0));
    ASSERT_TRUE(d->set("o", boost::json::object{{"k", 1}}));

    struct Case {
        const char* key;
        std::optional<std::string> s;
        std::optional<bool> b;
        std::optional<std::int64_t> i;
        std::optional<double> d;
        bool isObject;
    };
    const Case cases[] = {
        {"s", "text", {}, {}, {}, false},   {"b", {}, true, {}, {}, false},
        {"i", {}, {}, 42, 42.0, false},     {"d", {}, {}, {}, 2.5, false},
        {"w", {}, {}, 6, 6.0, false},       {"o", {}, {}, {}, {}, true},
        {"missing", {}, {}, {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(d->string(c.key), c.s);
        EXPECT_EQ(d->boolean(c.key), c.b);
        EXPECT_EQ(d->integer(c.key), c.i);
        EXPECT_EQ(d->number(c.key), c.d);
        EXPECT_EQ(d->object(c.key).has_value(), c.isObject);
    }
}

TEST_F(UserDefaultsTest, ChangesAreWrittenThroughWithoutLeftovers) {
    auto d = UserDefaults::suite("group.write");
    ASSERT_TRUE(d->set("isKRMediaEngine", true));
    ASSERT_TRUE(d->set("kr.screen.share.stopped.reason", "You have left the meeting"));
    ASSERT_TRUE(d->remove("isKRMediaEngine"));
    ASSERT_TRUE(d->set("gone", nullptr));  // null removes

    EXPECT_EQ(d->filePath(), dir_.path() / "suites" / "group.write.json");
    EXPECT_EQ(
        readFile(d->filePath()),
        boost::json::parse(R"({"kr.screen.share.stopped.reason":"You have left the meeting"})"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(dir_.path() / "suites")) {
        ++files;
    }
    EXPECT_EQ(files, 1u);  // no temporary file left behind
}

TEST_F(UserDefaultsTest, OpeningReadsTheFileAndTreatsCorruptionAsEmpty) {
    writeFile(dir_.path() / "suites" / "good.json", R"({"a":"b","n":3})");
    writeFile(dir_.path() / "suites" / "corrupt.json", R"({"a":)");
    writeFile(dir_.path() / "suites" / "array.json", R"([1,2])");
    writeFile(dir_.path() / "standard.json", R"({"std":true})");

    EXPECT_EQ(UserDefaults::suite("good")->string("a"), "b");
    EXPECT_EQ(UserDefaults::suite("good")->integer("n"), 3);
    EXPECT_EQ(UserDefaults::standard()->boolean("std"), true);
    for (const char* name : {"corrupt", "array"}) {
        auto d = UserDefaults::suite(name);
        EXPECT_FALSE(d->value("a"));
        ASSERT_TRUE(d->set("fresh", 1));  // the bad file is replaced by a good one
        EXPECT_EQ(readFile(d->filePath()), boost::json::parse(R"({"fresh":1})"));
    }
}

TEST_F(UserDefaultsTest, SuiteNamesAndIdentity) {
    for (const char* bad : {"", ".", "..", "a/b", "/abs"}) {
        EXPECT_EQ(UserDefaults::suite(bad), nullptr) << bad;
    }
    EXPECT_EQ(UserDefaults::suite(std::string_view("nul\0x", 5)), nullptr);
    EXPECT_EQ(UserDefaults::suite("group.a"), UserDefaults::suite("group.a"));
    EXPECT_NE(UserDefaults::suite("group.a"), UserDefaults::suite("group.b"));
    EXPECT_EQ(UserDefaults::standard(), UserDefaults::standard());
    EXPECT_EQ(UserDefaults::standard()->filePath(), dir_.path() / "standard.json");
}

TEST_F(UserDefaultsTest, ValuesSurviveByteForByte) {
    const std::string notUtf8 = "caf\xe9";
    auto d = UserDefaults::suite("bytes");
    ASSERT_TRUE(d->set("k", notUtf8));
    // A new directory view of the same file, read from disk.
    UserDefaults::setDirectory(dir_.path() / ".");
    EXPECT_EQ(UserDefaults::suite("bytes")->string("k"), notUtf8);
}

TEST_F(UserDefaultsTest, NonFiniteNumbersAreRefused) {
    auto d = UserDefaults::suite("numbers");
    ASSERT_TRUE(d->set("keep", 1));
    EXPECT_FALSE(d->set("nan", std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(
        d->set("nested", boost::json::object{{"x", std::numeric_limits<double>::infinity()}}));
    EXPECT_FALSE(d->value("nan"));
    EXPECT_FALSE(d->value("nested"));
    EXPECT_EQ(readFile(d->filePath()), boost::json::parse(R"({"keep":1})"));
}

TEST_F(UserDefaultsTest, UnwritableDirectoryKeepsValuesInMemoryAndSaysSo) {
    writeFile(dir_.path() / "plain-file", "x");
    UserDefaults::setDirectory(dir_.path() / "plain-file" / "below");
    auto d = UserDefaults::suite("group.x");
    EXPECT_FALSE(d->set("k", "v"));
    EXPECT_EQ(d->string("k"), "v");
    EXPECT_FALSE(d->synchronize());
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    auto d = UserDefaults::suite("group.concurrent");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([d, t] {
            for (int i = 0; i < 25; ++i) {
                d->set("k" + std::to_string(t) + "-" + std::to_string(i), i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const boost::json::value file = readFile(d->filePath());
    ASSERT_TRUE(file.is_object());
    EXPECT_EQ(file.as_object().size(), 100u);
}

}  // namespace
}  // namespace kr::platform
