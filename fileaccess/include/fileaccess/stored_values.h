// The byte forms of stored values and the operations on them: clearing a
// record by its FieldDesc stream, string assignment, storing a LONG into a
// DECIMAL, and reading a DECIMAL back (as its parts, as a scaled integer, or
// as text).
//
// DECIMAL of s bytes and p places: the first byte's high nibble is the sign
// (0 positive, F written for negative; any non-zero nibble reads as negative),
// then 2s - 1 digit nibbles, most significant first; the last p digits are
// the decimal places.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fileaccess {

inline constexpr std::uint8_t kSpace = 0x20;
inline constexpr std::uint8_t kDecimalNegativeNibble = 0xF;

// Clears every entry of the record in stream order, groups and their members
// alike: STRING and GROUP to spaces, every other type to zero bytes. A group
// is cleared before its members, so a group of numbers ends as zeros. The
// record's length is record.size(). 0, or 75 when the stream is invalid (the
// record is then left as it was).
[[nodiscard]] int clearRecord(std::span<std::uint8_t> record, std::span<const std::uint8_t> stream);

// The image clearRecord gives a record of recordLength bytes: computed once,
// it clears a record with one copy. 0 or 75.
[[nodiscard]] int buildClearedImage(std::span<const std::uint8_t> stream,
                                    std::uint32_t recordLength, std::vector<std::uint8_t>& image);

// Copies the first min(n, m) bytes of source into target; a shorter source
// leaves the rest of target as spaces, a longer one is cut. Also the
// assignment of a GROUP, as a string of its size.
void assignString(std::span<std::uint8_t> target, std::span<const std::uint8_t> source);

// Stores a whole number into a DECIMAL of target.size() bytes and the given
// places: the number gains p zero decimal places, and integer digits above
// the highest stored position are dropped without an error (for 4 bytes and 2
// places only the value modulo 100000 survives). A negative number keeps its
// sign even when every stored digit is 0. 0, or 75 for a DECIMAL of size 0.
[[nodiscard]] int storeDecimal(std::span<std::uint8_t> target, std::int64_t value,
                               std::uint8_t places);

// A DECIMAL read back: its sign and its 2s - 1 digits ('0'-'9', or '?' for a
// nibble above 9, which makes it not wellFormed).
struct DecimalParts {
  bool negative = false;
  bool wellFormed = true;
  std::string digits;
  std::uint8_t places = 0;
};

DecimalParts readDecimal(std::span<const std::uint8_t> bytes, std::uint8_t places);

// The value in units of the last place (-5.00 with 2 places is -500). False
// when the DECIMAL is not well formed or its value does not fit 64 bits.
[[nodiscard]] bool decimalToScaled(std::span<const std::uint8_t> bytes, std::int64_t& scaled);

// The decimal text: leading zeros cut, at least one integer digit, the
// places after a point, "-" for a negative sign (also on an all-zero value,
// which shows as "-0.00"): "1234.00", "-5.00", "0.50".
std::string decimalText(std::span<const std::uint8_t> bytes, std::uint8_t places);

}  // namespace fileaccess
