#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace platform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

std::string_view unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::string envOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

}  // namespace

std::string profilePath() {
  std::string path = envOrEmpty("QUILLBOX_INI");
  if (!path.empty()) return path;
  const std::string config = envOrEmpty("XDG_CONFIG_HOME");
  if (!config.empty() && config[0] == '/') return config + "/quillbox.ini";
  const std::string home = envOrEmpty("HOME");
  if (home.empty()) return std::string();
  return home + "/.config/quillbox.ini";
}

Profile Profile::parse(std::string_view text) {
  Profile profile;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  std::string section;
  bool inSection = false;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      inSection = close != std::string_view::npos;
      if (inSection) section = lowered(trim(line.substr(1, close - 1)));
      continue;
    }
    if (!inSection) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, eq));
    if (key.empty()) continue;
    profile.entries_.push_back(
        Entry{section, lowered(key), std::string(unquoted(trim(line.substr(eq + 1))))});
  }
  return profile;
}

Profile Profile::load(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return Profile();
  // O_NONBLOCK: a FIFO in the profile's place must not hang the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Profile();
  struct stat st {};
  std::string text;
  bool cut = false;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(kMaxProfileBytes);
    std::size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    cut = got == text.size();
    text.resize(got);
  }
  ::close(fd);
  if (cut) {
    // The file may go on past the cap: drop the line cut there.
    const std::size_t eol = text.find_last_of('\n');
    text.resize(eol == std::string::npos ? 0 : eol + 1);
  }
  return parse(text);
}

const std::string* Profile::find(std::string_view section, std::string_view key) const {
  const std::string s = lowered(trim(section));
  const std::string k = lowered(trim(key));
  for (const Entry& e : entries_) {
    if (e.section == s && e.key == k) return &e.value;
  }
  return nullptr;
}

int profileIntFromText(std::string_view value) {
  std::uint32_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    n = n * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<int>(n);
}

int getProfileInt(std::string_view section, std::string_view key, int defaultValue) {
  const Profile profile = Profile::load(profilePath());
  const std::string* value = profile.find(section, key);
  return value != nullptr ? profileIntFromText(*value) : defaultValue;
}

std::string getProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue) {
  const Profile profile = Profile::load(profilePath());
  const std::string* value = profile.find(section, key);
  return value != nullptr ? *value : std::string(defaultValue);
}

}  // namespace platform
