#include "fileaccess/stored_values.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "fileaccess/field_desc.h"
#include "fileaccess/field_format.h"

namespace fileaccess {

namespace {

// Digit nibble k (0-based, most significant first) of a DECIMAL: the first
// byte's low nibble, then each following byte's high and low nibbles.
std::uint8_t digitNibble(std::span<const std::uint8_t> bytes, std::size_t k) {
  const std::size_t n = k + 1;  // nibble position counting the sign as 0
  const std::uint8_t byte = bytes[n / 2];
  return (n % 2 == 0) ? static_cast<std::uint8_t>(byte >> 4)
                      : static_cast<std::uint8_t>(byte & 0x0F);
}

}  // namespace

int clearRecord(std::span<std::uint8_t> record, std::span<const std::uint8_t> stream) {
  std::vector<FieldEntry> entries;
  if (readFieldEntries(stream, static_cast<std::uint32_t>(record.size()), entries) != 0) {
    return kInvalidFieldDescriptor;
  }
  // The reader has checked that every entry lies inside the record.
  for (const FieldEntry& e : entries) {
    const std::uint8_t fill = (e.type == kTypeString || e.type == kTypeGroup) ? kSpace : 0;
    std::memset(record.data() + e.offset, fill, static_cast<std::size_t>(e.totalSize()));
  }
  return 0;
}

int buildClearedImage(std::span<const std::uint8_t> stream, std::uint32_t recordLength,
                      std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> work(recordLength, 0);
  if (clearRecord(work, stream) != 0) return kInvalidFieldDescriptor;
  image = std::move(work);
  return 0;
}

void assignString(std::span<std::uint8_t> target, std::span<const std::uint8_t> source) {
  const std::size_t n = std::min(target.size(), source.size());
  if (n != 0) std::memmove(target.data(), source.data(), n);
  if (n < target.size()) std::memset(target.data() + n, kSpace, target.size() - n);
}

int storeDecimal(std::span<std::uint8_t> target, std::int64_t value, std::uint8_t places) {
  if (target.empty()) return kInvalidFieldDescriptor;
  const bool negative = value < 0;
  // The magnitude as unsigned, so the most negative number keeps its digits.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::size_t digits = 2 * target.size() - 1;
  std::memset(target.data(), 0, target.size());
  // Fill digit nibbles from the least significant: p zero places, then the
  // integer digits as far as there are positions for them.
  for (std::size_t i = 0; i < digits && magnitude != 0; ++i) {
    const std::size_t k = digits - 1 - i;  // digit position, most significant first
    if (i < places) continue;
    const auto digit = static_cast<std::uint8_t>(magnitude % 10);
    magnitude /= 10;
    const std::size_t n = k + 1;
    if (n % 2 == 0) {
      target[n / 2] |= static_cast<std::uint8_t>(digit << 4);
    } else {
      target[n / 2] |= digit;
    }
  }
  if (negative) target[0] |= static_cast<std::uint8_t>(kDecimalNegativeNibble << 4);
  return 0;
}

DecimalParts readDecimal(std::span<const std::uint8_t> bytes, std::uint8_t places) {
  DecimalParts parts;
  parts.places = places;
  if (bytes.empty()) {
    parts.wellFormed = false;
    return parts;
  }
  parts.negative = (bytes[0] >> 4) != 0;
  const std::size_t digits = 2 * bytes.size() - 1;
  parts.digits.reserve(digits);
  for (std::size_t k = 0; k < digits; ++k) {
    const std::uint8_t nibble = digitNibble(bytes, k);
    if (nibble > 9) {
      parts.wellFormed = false;
      parts.digits.push_back('?');
    } else {
      parts.digits.push_back(static_cast<char>('0' + nibble));
    }
  }
  return parts;
}

bool decimalToScaled(std::span<const std::uint8_t> bytes, std::int64_t& scaled) {
  if (bytes.empty()) return false;
  constexpr std::uint64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::uint64_t magnitude = 0;
  const std::size_t digits = 2 * bytes.size() - 1;
  for (std::size_t k = 0; k < digits; ++k) {
    const std::uint8_t nibble = digitNibble(bytes, k);
    if (nibble > 9) return false;
    if (magnitude > (kLimit - nibble) / 10) return false;
    magnitude = magnitude * 10 + nibble;
  }
  const bool negative = (bytes[0] >> 4) != 0;
  scaled = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

std::string decimalText(std::span<const std::uint8_t> bytes, std::uint8_t places) {
  const DecimalParts parts = readDecimal(bytes, places);
  const std::string& d = parts.digits;
  // Places beyond the stored digits read as zeros before them.
  const std::size_t intCount = d.size() > places ? d.size() - places : 0;
  std::string text;
  if (parts.negative) text.push_back('-');
  std::size_t first = 0;
  while (first + 1 < intCount && d[first] == '0') ++first;
  if (intCount == 0) {
    text.push_back('0');
  } else {
    text.append(d, first, intCount - first);
  }
  if (places > 0) {
    text.push_back('.');
    if (places > d.size()) text.append(places - d.size(), '0');
    text.append(d, intCount, d.size() - intCount);
  }
  return text;
}

}  // namespace fileaccess
