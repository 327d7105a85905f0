#include "testing/ScopedTempDirectory.h"

#include <stdlib.h>

#include <string>
#include <system_error>

namespace kr::test {

ScopedTempDirectory::ScopedTempDirectory(const std::string& prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

ScopedTempDirectory::~ScopedTempDirectory() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

}  // namespace kr::test
