// A fresh directory below the system's temporary directory for one test,
// removed with everything in it at the end (read-only entries included,
// which would otherwise stop the removal of their directory).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace test_common {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "orv-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace test_common
