// A folder of a test's own in /tmp, made with the object and removed, with everything in it, when
// the object goes. Its name is short, so that a node's path in it fits a port's path.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace tornelvox::testing {

class TemporaryFolder {
  public:
    // /tmp/PREFIX-XXXXXX.
    explicit TemporaryFolder(const std::string &prefix = "tvx") {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    // The folder; empty when it could not be made.
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace tornelvox::testing
