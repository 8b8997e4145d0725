#include "fileaccess/declarations.h"

#include <array>
#include <cstring>

namespace fileaccess {

std::string takeText(const char* text, std::int32_t length) {
  if (text == nullptr) return {};
  if (length > 0) return std::string(text, static_cast<std::size_t>(length));
  if (length == kTextZeroTerminated) return std::string(text);
  if (length == kTextLengthPrefixed) {
    const auto n = static_cast<unsigned char>(text[0]);
    return std::string(text + 1, n);
  }
  return {};
}

std::string takeName(const char* text, std::int32_t length) {
  std::string s = takeText(text, length);
  const std::size_t last = s.find_last_not_of(' ');
  s.resize(last == std::string::npos ? 0 : last + 1);
  return s;
}

int checkKeyComponents(const KeyDesc& key, std::uint32_t fieldCount) {
  constexpr int kInvalid = 75;
  if (key.componentCount == 0) return 0;
  if (key.components == nullptr) return kInvalid;
  for (std::uint8_t i = 0; i < key.componentCount; ++i) {
    const std::int64_t c = key.components[i];
    const std::int64_t field = c < 0 ? -c : c;  // 64 bits: the most negative value negates
    if (field == 0 || field > fieldCount) return kInvalid;
  }
  return 0;
}

std::string_view fieldTypeName(std::uint8_t type) {
  static constexpr std::array<std::string_view, 31> kNames = {
      "END",     "BYTE",  "SHORT",   "USHORT",   "DATE",     "TIME",    "LONG",    "ULONG",
      "SREAL",   "REAL",  "DECIMAL", "PDECIMAL", "DUM1",     "BFLOAT4", "BFLOAT8", "ANY",
      "TEMPUFO", "(17)",  "STRING",  "CSTRING",  "PSTRING",  "MEMO",    "GROUP",   "CLASS",
      "ARRAY",   "FIELD", "QUEUE",   "BLOB",     "STACKSTR", "PICTURE", "STDNUM"};
  return type < kNames.size() ? kNames[type] : std::string_view("UNKNOWN");
}

}  // namespace fileaccess
