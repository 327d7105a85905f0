// Input: the file of a user-defaults suite as found on disk. Opening it never crashes. A file
// that does not read is kept aside byte for byte and the suite starts empty; a suite that did
// read is saved, and the saved file reloads to the same values and saves to the same bytes.
// Every value it loaded can also be stored again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "platform/Common/JsonNumbers.h"
#include "platform/Defaults/UserDefaults.h"

namespace {

using kr::platform::UserDefaults;
namespace fs = std::filesystem;

// Suites stay open for the life of the process, so every run needs directories of its own.
fs::path freshDirectory() {
    static const fs::path root =
        fs::temp_directory_path() / ("kr-defaults-fuzz-" + std::to_string(::getpid()));
    static unsigned long next = 0;
    return root / std::to_string(next++);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The values of a file the suite itself wrote, in its order, read as the suite reads them.
boost::json::object savedValues(const std::string& text) {
    boost::json::parse_options options;
    options.allow_invalid_utf8 = true;
    options.max_depth = UserDefaults::kMaxDepth;
    boost::system::error_code ec;
    boost::json::value parsed = kr::platform::parseJson(text, ec, options);
    KR_FUZZ_CHECK(!ec && parsed.is_object());
    return std::move(parsed.get_object());
}

void check(std::string_view input, const fs::path& first, const fs::path& second,
           const fs::path& third) {
    const auto loaded = UserDefaults::suite("app", first);
    const fs::path file = loaded->filePath();
    const bool setAside = fs::exists(fs::path(file) += ".corrupt-1");
    if (setAside) {
        KR_FUZZ_CHECK(readFile(fs::path(file) += ".corrupt-1") == input);
    }
    KR_FUZZ_CHECK(loaded->synchronize());
    const std::string saved = readFile(file);
    const boost::json::object values = savedValues(saved);
    if (setAside) {
        KR_FUZZ_CHECK(values.empty());
    }

    writeFile(second / "suites" / "app.json", saved);
    const auto reloaded = UserDefaults::suite("app", second);
    const auto refilled = UserDefaults::standard(third);
    bool storesNull = false;  // storing null removes the key instead
    for (const auto& [key, value] : values) {
        const std::string_view name(key.data(), key.size());
        KR_FUZZ_CHECK(loaded->value(name) == value);
        KR_FUZZ_CHECK(reloaded->value(name) == value);
        KR_FUZZ_CHECK(refilled->set(name, value));
        storesNull = storesNull || value.is_null();
    }
    KR_FUZZ_CHECK(!fs::exists(fs::path(reloaded->filePath()) += ".corrupt-1"));
    KR_FUZZ_CHECK(reloaded->synchronize());
    KR_FUZZ_CHECK(readFile(reloaded->filePath()) == saved);
    if (!values.empty() && !storesNull) {
        KR_FUZZ_CHECK(readFile(refilled->filePath()) == saved);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const fs::path first = freshDirectory();
    const fs::path second = freshDirectory();
    const fs::path third = freshDirectory();
    writeFile(first / "suites" / "app.json", input);
    check(input, first, second, third);
    std::error_code ec;
    for (const auto& dir : {first, second, third}) {
        fs::remove_all(dir, ec);
    }
    return 0;
}
