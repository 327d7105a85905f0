#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

namespace kr::platform {

/// A named store of JSON values by key, persisted as one JSON object per file: the standard suite
/// in `<directory>/standard.json`, a named suite (such as an app group shared with an extension)
/// in `<directory>/suites/<name>.json`. Whoever opens a suite names its directory; `directory()`
/// is the production default: the environment variable KR_DEFAULTS_DIR, `$XDG_CONFIG_HOME/kivrane`
/// or `$HOME/.config/kivrane`.
///
/// A suite is read once when first opened and every change is written through at once, atomically
/// and durably (temporary file synced to the disk, rename, folder synced). Files, and the folders
/// the suite creates, are open to their owner only: a suite may hold credentials. A missing file
/// counts as empty; a file that does not parse (or holds a number too large for a double) is
/// renamed to `<file>.corrupt-<n>` and the suite starts empty, so a later write never destroys
/// what might still be recovered. A value is stored only if the file it makes reads back.
/// Opening the same suite again in the same directory gives the same object.
/// Threading: every method may be called from any thread.
class UserDefaults {
public:
    /// Nesting the reader accepts; the writer refuses anything deeper.
    static constexpr std::size_t kMaxDepth = 32;

    /// The standard suite in `directory` (in memory only when the path is empty). Never null.
    static std::shared_ptr<UserDefaults> standard(const std::filesystem::path& directory);
    /// The named suite in `directory`, or null when the name cannot name a suite (empty, ".",
    /// "..", or holding '/' or NUL).
    static std::shared_ptr<UserDefaults> suite(std::string_view name,
                                               const std::filesystem::path& directory);
    /// The same in the production default directory.
    static std::shared_ptr<UserDefaults> standard() { return standard(directory()); }
    static std::shared_ptr<UserDefaults> suite(std::string_view name) {
        return suite(name, directory());
    }

    /// The production default directory; empty when none can be found.
    static std::filesystem::path directory();

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    /// The suite name; empty for the standard suite.
    const std::string& name() const { return name_; }
    /// The backing file; empty when there is no directory to persist to.
    const std::filesystem::path& filePath() const { return file_; }

    /// The stored value, or nullopt when the key is absent.
    std::optional<boost::json::value> value(std::string_view key) const;
    /// Typed reads: nullopt when the key is absent or holds another JSON type (an integer also
    /// reads as a double; a double with a whole value in range also reads as an integer).
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    std::optional<boost::json::object> object(std::string_view key) const;

    /// Stores `value` under `key` (a null value removes the key). Returns whether the change
    /// reached the file; the in-memory value is kept either way (a suite without a directory is
    /// kept in memory only, and this returns false). A value the file could not give back (NaN,
    /// an infinity, nesting deeper than `kMaxDepth`) is refused: nothing changes, this returns
    /// false.
    bool set(std::string_view key, boost::json::value value);
    bool set(std::string_view key, const std::string& text) {
        return set(key, boost::json::value(boost::json::string_view(text)));
    }
    bool set(std::string_view key, const char* text) {
        return text ? set(key, boost::json::value(boost::json::string_view(text))) : remove(key);
    }
    bool set(std::string_view key, std::nullptr_t) { return remove(key); }
    /// Removes `key`. Returns whether the file reflects the removal.
    bool remove(std::string_view key);
    /// Writes the current contents to the file again. Returns whether that succeeded.
    bool synchronize();

private:
    UserDefaults(std::string name, std::filesystem::path file);
    static std::shared_ptr<UserDefaults> open(std::string name, std::filesystem::path file);

    void load();
    bool setAside() const;
    bool writeLocked() const;  // requires mutex_

    const std::string name_;
    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    boost::json::object values_;
    bool keepOffDisk_ = false;  // an unreadable file could not be set aside
};

}  // namespace kr::platform
