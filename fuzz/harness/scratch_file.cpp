#include "harness/scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qbx::fuzz {
namespace {

std::string& scratchDirectory() {
  static std::string dir;
  return dir;
}

void removeScratchDirectory() {
  std::error_code ec;
  std::filesystem::remove_all(scratchDirectory(), ec);
}

}  // namespace

std::string scratchPath(const std::string& name) {
  std::string& dir = scratchDirectory();
  if (dir.empty()) {
    const char* env = std::getenv("TMPDIR");
    const std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
    std::string pattern = base + "/qbx-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir = buffer.data();
    std::atexit(removeScratchDirectory);
  }
  return dir + "/" + name;
}

void writeScratchFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

}  // namespace qbx::fuzz
