#pragma once
// A private folder for one test, removed with everything in it at the end.

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace saalwacht::testing {

class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "saalwacht-test") {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto candidate = std::filesystem::temp_directory_path() /
                       (std::string(prefix) + "-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) path_ = std::move(candidate);
    }
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    // A test may have taken the write permission away.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Every file and folder inside, relative and sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
      names.push_back(std::filesystem::relative(entry.path(), path_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace saalwacht::testing
