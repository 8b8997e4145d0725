#include "text_output.h"

#include <array>
#include <cstdint>

namespace qbx::inspector {
namespace {

// Code points of the bytes 0x80 to 0x9F.
constexpr std::array<std::uint16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t codePoint(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F) return kHighControls[b - 0x80];
  return b;
}

void appendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

void appendUtf8(std::string& out, std::string_view text) {
  for (char c : text) appendCodePoint(out, codePoint(static_cast<unsigned char>(c)));
}

void appendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    const std::uint32_t cp = codePoint(static_cast<unsigned char>(c));
    switch (cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      out += "\\u00";
      out.push_back(kHex[cp >> 4]);
      out.push_back(kHex[cp & 15]);
    } else {
      appendCodePoint(out, cp);
    }
  }
  out.push_back('"');
}

void appendCsvField(std::string& out, std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) {
    out += text;
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const std::uint32_t cp = codePoint(static_cast<unsigned char>(c));
    if (cp < 0x20 || cp == '\\' || (cp >= 0x7F && cp < 0xA0)) {
      out += "\\x";
      out.push_back(kHex[(cp >> 4) & 15]);
      out.push_back(kHex[cp & 15]);
    } else {
      appendCodePoint(out, cp);
    }
  }
  return out;
}

}  // namespace qbx::inspector
