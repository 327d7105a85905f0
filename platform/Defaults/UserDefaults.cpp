#include "platform/Defaults/UserDefaults.h"

#include "platform/Common/JsonNumbers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <boost/json/serialize.hpp>

namespace kr::platform {

namespace {

struct Registry {
    std::mutex mutex;
    // Suites stay open for the life of the process so that every opener shares one object.
    std::map<std::string, std::shared_ptr<UserDefaults>> open;
};

Registry& registry() {
    static auto* r = new Registry();
    return *r;
}

std::filesystem::path defaultDirectory() {
    auto env = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v ? std::string(v) : std::string();
    };
    if (auto dir = env("KR_DEFAULTS_DIR"); !dir.empty()) {
        return dir;
    }
    if (auto xdg = env("XDG_CONFIG_HOME"); !xdg.empty()) {
        return std::filesystem::path(xdg) / "kivrane";
    }
    if (auto home = env("HOME"); !home.empty()) {
        return std::filesystem::path(home) / ".config" / "kivrane";
    }
    return {};
}

bool validSuiteName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// The reader's settings; the writer checks every value against them.
boost::json::parse_options readOptions() {
    boost::json::parse_options options;
    options.allow_invalid_utf8 = true;  // strings are stored byte for byte
    options.max_depth = UserDefaults::kMaxDepth;
    return options;
}

// A number beyond a double's range reads as an infinity, which no file can hold: taking such a
// file in would make the next write produce one that does not parse.
std::optional<boost::json::object> parseSuite(std::string_view text) {
    boost::system::error_code ec;
    boost::json::value parsed = parseJson(text, ec, readOptions());
    if (ec || !parsed.is_object() || !allNumbersFinite(parsed)) {
        return std::nullopt;
    }
    return std::move(parsed.get_object());
}

// NaN and infinities have no JSON spelling.
// Whether a suite holding `value` under some key still parses: a value nested too deep, or one
// without a JSON spelling, would make the whole file unreadable at the next start.
bool readsBack(const boost::json::value& value) {
    return allNumbersFinite(value) &&
           parseSuite(boost::json::serialize(boost::json::object{{"k", value}})).has_value();
}

// Creates the missing folders of `dir` readable by the owner only: the suites may hold
// credentials (the app group keeps the screen-share token while a share runs). Folders that
// already exist are left as they are; they may be shared places the host chose.
bool makePrivateDirectories(const std::filesystem::path& dir) {
    std::filesystem::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec);
}

// Writes `text` to the new file `path` (owner-only) and flushes it to the disk, so that the
// rename that follows never publishes a file whose contents are not there yet.
bool writeDurably(const std::filesystem::path& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    while (ok && !text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        ok = written > 0;
        if (ok) {
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    ok = ok && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Some file systems cannot sync a folder at all; there the rename is as safe as it gets.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

std::optional<std::int64_t> asInteger(const boost::json::value& v) {
    if (v.is_int64()) {
        return v.get_int64();
    }
    if (v.is_uint64()) {
        if (v.get_uint64() > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(v.get_uint64());
    }
    if (v.is_double()) {
        const double d = v.get_double();
        // 2^63 is the first double above the int64 range.
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            return static_cast<std::int64_t>(d);
        }
    }
    return std::nullopt;
}

}  // namespace

UserDefaults::UserDefaults(std::string name, std::filesystem::path file)
    : name_(std::move(name)), file_(std::move(file)) {}

std::shared_ptr<UserDefaults> UserDefaults::open(std::string name, std::filesystem::path file) {
    Registry& r = registry();
    // Without a directory the suite lives in memory only, keyed by its name.
    const std::string key = file.empty() ? std::string("\n") + name : file.string();
    std::lock_guard lock(r.mutex);
    auto& slot = r.open[key];
    if (!slot) {
        slot = std::shared_ptr<UserDefaults>(new UserDefaults(std::move(name), std::move(file)));
        slot->load();
    }
    return slot;
}

std::shared_ptr<UserDefaults> UserDefaults::standard(const std::filesystem::path& dir) {
    return open(std::string(), dir.empty() ? dir : dir / "standard.json");
}

std::shared_ptr<UserDefaults> UserDefaults::suite(std::string_view name,
                                                  const std::filesystem::path& dir) {
    if (!validSuiteName(name)) {
        return nullptr;
    }
    std::string suiteName(name);
    return open(suiteName, dir.empty() ? dir : dir / "suites" / (suiteName + ".json"));
}

std::filesystem::path UserDefaults::directory() {
    return defaultDirectory();
}

void UserDefaults::load() {
    if (file_.empty()) {
        return;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    in.close();
    if (auto parsed = parseSuite(text.str())) {
        values_ = std::move(*parsed);
    } else if (!setAside()) {
        keepOffDisk_ = true;  // the unreadable file stays where it is, untouched
    }
}

bool UserDefaults::setAside() const {
    // Kept under a new name so the next write cannot replace it; the first free number wins.
    std::error_code ec;
    for (int n = 1; n < 1000; ++n) {
        std::filesystem::path aside = file_;
        aside += ".corrupt-" + std::to_string(n);
        if (!std::filesystem::exists(aside, ec) && !ec) {
            std::filesystem::rename(file_, aside, ec);
            return !ec;
        }
    }
    return false;
}

bool UserDefaults::writeLocked() const {
    if (file_.empty() || keepOffDisk_) {
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path folder = file_.parent_path();
    if (!makePrivateDirectories(folder)) {
        return false;
    }
    std::filesystem::path temp = file_;
    temp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    std::error_code ec;
    if (!writeDurably(temp, boost::json::serialize(values_))) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::rename(temp, file_, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    // The rename itself lives in the folder; without this a crash may bring back the old file.
    return syncDirectory(folder);
}

std::optional<boost::json::value> UserDefaults::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const boost::json::value* v = values_.if_contains(key)) {
        return *v;
    }
    return std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    auto v = value(key);
    if (v && v->is_string()) {
        return std::string(v->get_string());
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    auto v = value(key);
    if (v && v->is_bool()) {
        return v->get_bool();
    }
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    auto v = value(key);
    return v ? asInteger(*v) : std::nullopt;
}

std::optional<double> UserDefaults::number(std::string_view key) const {
    auto v = value(key);
    if (v && v->is_number()) {
        return v->to_number<double>();
    }
    return std::nullopt;
}

std::optional<boost::json::object> UserDefaults::object(std::string_view key) const {
    auto v = value(key);
    if (v && v->is_object()) {
        return v->get_object();
    }
    return std::nullopt;
}

bool UserDefaults::set(std::string_view key, boost::json::value value) {
    if (value.is_null()) {
        return remove(key);
    }
    if (!readsBack(value)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
    return writeLocked();
}

bool UserDefaults::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
    return writeLocked();
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    return writeLocked();
}

}  // namespace kr::platform
