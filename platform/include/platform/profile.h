// The profile file that stands in for WIN.INI: an INI file with sections
// ("[RDQUILLBOX]") and "key=value" lines.
//   - Where: $QUILLBOX_INI when set and not empty, else
//     ${XDG_CONFIG_HOME:-$HOME/.config}/quillbox.ini. A missing or unreadable
//     file means every key takes its default.
//   - Section and key names are compared without regard to ASCII letter case;
//     names and values are trimmed of blanks, tabs and CR; a value enclosed
//     in a matching pair of double or single quotes loses them.
//   - A line whose first non-blank character is ';' is a comment; a ';' later
//     in a line belongs to the value.
//   - The first occurrence of a key in a section wins, also when the section
//     appears more than once. Lines before the first section, lines without
//     '=' and lines after a malformed section header are ignored.
//   - Only the first kMaxProfileBytes of the file are read (a line cut there
//     is dropped); lines of any length are handled.
// The file is read at each call, so a change takes effect at the next read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::size_t kMaxProfileBytes = 1024 * 1024;

// The profile file's name; empty when none can be formed (no HOME).
std::string profilePath();

class Profile {
 public:
  static Profile parse(std::string_view text);
  // Reads the file; missing, unreadable or not a regular file: empty.
  static Profile load(const std::string& path);

  // The value of the first occurrence of key in section, or nullptr.
  const std::string* find(std::string_view section, std::string_view key) const;

 private:
  struct Entry {
    std::string section;  // lower case
    std::string key;      // lower case
    std::string value;
  };
  std::vector<Entry> entries_;
};

// Reads a profile value as the Windows profile functions read integers: the
// decimal digits at its start (anything else stops the number; no digits: 0;
// more than 32 bits wrap).
int profileIntFromText(std::string_view value);

// The integer of the key in the profile file; defaultValue when the key is
// missing (a key that is present but holds no digits gives 0).
int getProfileInt(std::string_view section, std::string_view key, int defaultValue);
// The text of the key; defaultValue when the key is missing (an empty value
// is returned as empty).
std::string getProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue);

}  // namespace platform
