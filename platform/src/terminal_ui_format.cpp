// Texts of the terminal UI that do not depend on a terminal: the count
// display, the progress line and the filter hint.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/terminal_ui.h"

namespace platform {

namespace {

constexpr std::size_t kCountWidth = 8;

// A product of two 64-bit values, exact.
__extension__ using Wide = unsigned __int128;

unsigned percentDone(std::uint64_t count, std::uint64_t total) {
  if (count >= total) return 100;
  return static_cast<unsigned>(static_cast<Wide>(count) * 100 / total);
}

}  // namespace

std::string groupDigits(std::uint64_t value) {
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text;
  text.reserve(n + n / 3);
  for (std::size_t i = n; i-- > 0;) {
    text.push_back(digits[i]);
    if (i != 0 && i % 3 == 0) text.push_back(',');
  }
  return text;
}

std::string formatCount(std::uint64_t value) {
  std::string digits = groupDigits(value);
  if (digits.size() >= kCountWidth) return digits;
  std::string text(kCountWidth - digits.size(), ' ');
  text += digits;
  return text;
}

std::string progressText(std::string_view prompt, std::uint64_t count,
                         std::optional<std::uint64_t> total) {
  std::string text(prompt);
  text += ' ';
  text += formatCount(count);
  if (total) {
    text += " of ";
    text += groupDigits(*total);
    text += " (";
    text += std::to_string(percentDone(count, *total));
    text += "%)";
  }
  return text;
}

std::string filterHint(std::string_view filter) {
  if (filter.empty()) return {};
  std::string hint = "(";
  bool description = true;  // items alternate: description, pattern
  for (;;) {
    const std::size_t bar = filter.find('|');
    if (description) {
      if (hint.size() > 1) hint += ", ";
    } else {
      hint += ' ';
    }
    hint += filter.substr(0, bar);
    description = !description;
    if (bar == std::string_view::npos) break;
    filter.remove_prefix(bar + 1);
  }
  hint += ')';
  return hint;
}

std::string printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return shown;
}

}  // namespace platform
