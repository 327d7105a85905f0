#pragma once

#include <filesystem>

namespace kr::test {

/// A fresh, empty directory under the system temporary directory, removed with everything in it
/// when the object goes away.
class ScopedTempDirectory {
public:
    ScopedTempDirectory();
    ~ScopedTempDirectory();
    ScopedTempDirectory(const ScopedTempDirectory&) = delete;
    ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace kr::test
