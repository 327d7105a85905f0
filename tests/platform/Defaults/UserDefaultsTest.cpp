#include "platform/Defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>

#include "testing/ScopedTempDirectory.h"

namespace kr::platform {
namespace {

// Every suite of a test lives in a fresh directory of its own.
class UserDefaultsTest : public ::testing::Test {
protected:
    std::shared_ptr<UserDefaults> suite(std::string_view name) {
        return UserDefaults::suite(name, dir_.path());
    }

    static boost::json::value readFile(const std::filesystem::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        boost::system::error_code ec;
        return boost::json::parse(text.str(), ec);
    }

    static std::string readText(const std::filesystem::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void writeFile(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    test::ScopedTempDirectory dir_;
};

TEST_F(UserDefaultsTest, TypedReadsFollowTheStoredJsonType) {
    auto d = suite("group.test");
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
    auto d = suite("group.write");
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

TEST_F(UserDefaultsTest, OpeningReadsTheFileAndSetsAnUnreadableOneAside) {
    writeFile(dir_.path() / "suites" / "good.json", R"({"a":"b","n":3})");
    writeFile(dir_.path() / "suites" / "corrupt.json", R"({"a":)");
    writeFile(dir_.path() / "suites" / "corrupt.json.corrupt-1", "older");
    writeFile(dir_.path() / "suites" / "array.json", R"([1,2])");
    // Reads, but the number comes back as an infinity, which the next write could not spell.
    writeFile(dir_.path() / "suites" / "huge.json", R"({"a":"b","n":-1e400})");
    writeFile(dir_.path() / "standard.json", R"({"std":true})");

    EXPECT_EQ(suite("good")->string("a"), "b");
    EXPECT_EQ(suite("good")->integer("n"), 3);
    EXPECT_EQ(UserDefaults::standard(dir_.path())->boolean("std"), true);
    struct Case {
        const char* name;
        const char* keptAs;
        const char* text;
    };
    const Case cases[] = {
        {"corrupt", "corrupt.json.corrupt-2", R"({"a":)"},
        {"array", "array.json.corrupt-1", "[1,2]"},
        {"huge", "huge.json.corrupt-1", R"({"a":"b","n":-1e400})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = suite(c.name);
        EXPECT_FALSE(d->value("a"));
        ASSERT_TRUE(d->set("fresh", 1));
        EXPECT_EQ(readFile(d->filePath()), boost::json::parse(R"({"fresh":1})"));
        EXPECT_EQ(readText(dir_.path() / "suites" / c.keptAs), c.text);
    }
    EXPECT_EQ(readText(dir_.path() / "suites" / "corrupt.json.corrupt-1"), "older");
}

TEST_F(UserDefaultsTest, ValuesTheReaderCannotTakeAreRefusedAndTheSuiteSurvives) {
    auto d = suite("deep");
    ASSERT_TRUE(d->set("identity", "kept"));
    auto nested = [](std::size_t depth) {
        boost::json::value v = 1;
        for (std::size_t i = 0; i < depth; ++i) {
            v = boost::json::array{std::move(v)};
        }
        return v;
    };
    // The suite's own object is one level; a value may use the rest.
    EXPECT_TRUE(d->set("deepest", nested(UserDefaults::kMaxDepth - 1)));
    EXPECT_FALSE(d->set("too deep", nested(UserDefaults::kMaxDepth)));
    EXPECT_FALSE(d->value("too deep"));
    // A later run still reads every key.
    auto again = UserDefaults::suite("deep", dir_.path() / ".");
    EXPECT_EQ(again->string("identity"), "kept");
    EXPECT_TRUE(again->value("deepest"));
}

TEST_F(UserDefaultsTest, SuiteNamesAndIdentity) {
    for (const char* bad : {"", ".", "..", "a/b", "/abs"}) {
        EXPECT_EQ(suite(bad), nullptr) << bad;
    }
    EXPECT_EQ(suite(std::string_view("nul\0x", 5)), nullptr);
    EXPECT_EQ(suite("group.a"), suite("group.a"));
    EXPECT_NE(suite("group.a"), suite("group.b"));
    EXPECT_EQ(UserDefaults::standard(dir_.path()), UserDefaults::standard(dir_.path()));
    EXPECT_EQ(UserDefaults::standard(dir_.path())->filePath(), dir_.path() / "standard.json");
}

TEST_F(UserDefaultsTest, ValuesSurviveByteForByte) {
    const std::string notUtf8 = "caf\xe9";
    auto d = suite("bytes");
    ASSERT_TRUE(d->set("k", notUtf8));
    // A new directory view of the same file, read from disk.
    EXPECT_EQ(UserDefaults::suite("bytes", dir_.path() / ".")->string("k"), notUtf8);
}

TEST_F(UserDefaultsTest, NonFiniteNumbersAreRefused) {
    auto d = suite("numbers");
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
    auto d = UserDefaults::suite("group.x", dir_.path() / "plain-file" / "below");
    EXPECT_FALSE(d->set("k", "v"));
    EXPECT_EQ(d->string("k"), "v");
    EXPECT_FALSE(d->synchronize());
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    auto d = suite("group.concurrent");
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

// The mode bits of `path`, or -1 when it cannot be read.
int modeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

TEST_F(UserDefaultsTest, FilesAndTheFoldersTheSuiteMakesAreTheOwnersOnly) {
    const mode_t previous = ::umask(022);  // the usual default, under which files come out 0644
    const auto base = dir_.path() / "made" / "here";
    const auto standard = UserDefaults::standard(base);
    const auto group = UserDefaults::suite("group.share", base);
    EXPECT_TRUE(standard->set("k", "v"));
    EXPECT_TRUE(group->set("token", "secret"));
    // A file an older build left readable to everyone is replaced by a private one.
    writeFile(base / "suites" / "group.old.json", R"({"token":"old"})");
    ::chmod((base / "suites" / "group.old.json").c_str(), 0644);
    EXPECT_TRUE(UserDefaults::suite("group.old", base)->set("token", "new"));
    ::umask(previous);

    for (const auto& folder : {dir_.path() / "made", base, base / "suites"}) {
        EXPECT_EQ(modeOf(folder), 0700) << folder;
    }
    for (const auto& file : {standard->filePath(), group->filePath(),
                             base / "suites" / "group.old.json"}) {
        EXPECT_EQ(modeOf(file), 0600) << file;
    }
}

TEST_F(UserDefaultsTest, DoublesComeBackBitForBitAfterAReload) {
    std::mt19937_64 random(7);
    std::vector<double> stored;
    boost::json::object many;
    while (stored.size() < 2000) {
        const double d = std::bit_cast<double>(random());
        if (std::isfinite(d)) {
            many[std::to_string(stored.size())] = d;
            stored.push_back(d);
        }
    }
    auto d = suite("doubles");
    ASSERT_TRUE(d->set("many", many));
    ASSERT_TRUE(d->set("tenth", 0.1));
    // Another view of the same file reads it from the disk.
    const auto reread = UserDefaults::suite("doubles", dir_.path() / ".");
    EXPECT_EQ(reread->number("tenth"), 0.1);
    const auto back = reread->object("many");
    ASSERT_TRUE(back);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto* v = back->if_contains(std::to_string(i));
        ASSERT_TRUE(v && v->is_double()) << i;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(v->get_double()),
                  std::bit_cast<std::uint64_t>(stored[i]))
            << stored[i] << " read back as " << v->get_double();
    }
}

}  // namespace
}  // namespace kr::platform
