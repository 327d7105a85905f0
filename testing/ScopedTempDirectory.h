#pragma once

#include <filesystem>
#include <string>

namespace kr::test {

/// A fresh, empty directory under the system temporary directory (its name starting with
/// `prefix`), removed with everything in it when the object goes away. Empty when it could not
/// be made.
class ScopedTempDirectory {
public:
    explicit ScopedTempDirectory(const std::string& prefix = "kr-test-");
    ~ScopedTempDirectory();
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace kr::test
