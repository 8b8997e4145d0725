#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/errors.h"

namespace platform {

namespace {

// Current directory names longer than this are refused (45).
constexpr std::size_t kMaxCurrentDirectory = 64 * 1024;

bool validName(const std::string& name) {
  return !name.empty() && name.find('\0') == std::string::npos;
}

}  // namespace

int currentDirectory(std::string* dir) {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      *dir = buffer.data();
      return 0;
    }
    if (errno != ERANGE) return errno == ENOENT ? kErrorPathNotFound : errorFromErrno(errno);
    if (buffer.size() >= kMaxCurrentDirectory) return kErrorInvalidName;
    buffer.resize(buffer.size() * 2);
  }
}

std::string directoryPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int absolutePath(const std::string& name, std::string* full) {
  if (!validName(name)) return kErrorInvalidName;
  std::string dir = directoryPart(name);
  if (name[0] != '/') {
    std::string cwd;
    const int result = currentDirectory(&cwd);
    if (result != 0) return result;
    dir = name.find('/') == std::string::npos ? cwd : cwd + "/" + dir;
  }
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(dir.c_str(), nullptr), &std::free);
  if (real == nullptr) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) return kErrorPathNotFound;
    return errorFromErrno(err);
  }
  if (!isDirectory(real.get())) return kErrorPathNotFound;
  std::string result = real.get();
  if (result.back() != '/') result += '/';
  result += lastComponent(name);
  *full = std::move(result);
  return 0;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return validName(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st {};
  return validName(path) && ::stat(path.c_str(), &st) == 0;
}

std::string temporaryDirectory() {
  const char* env = std::getenv("TMPDIR");
  return (env != nullptr && *env != '\0') ? std::string(env) : std::string("/tmp");
}

}  // namespace platform
