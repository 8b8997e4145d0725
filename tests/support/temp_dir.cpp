#include "support/temp_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace support {

TempDir::TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
  std::string pattern = base + "/qbx-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files or directories behind: give the owner
  // full rights back before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ec);
}

}  // namespace support
