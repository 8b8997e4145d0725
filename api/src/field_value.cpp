#include "qbx/field_value.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace qbx {
namespace {

FieldValue invalid(std::string text = {}) {
  FieldValue v;
  v.kind = FieldValue::Kind::kInvalid;
  v.text = std::move(text);
  return v;
}

FieldValue integer(std::int64_t n) {
  FieldValue v;
  v.kind = FieldValue::Kind::kInteger;
  v.integer = n;
  v.text = std::to_string(n);
  return v;
}

FieldValue real(double d) {
  FieldValue v;
  v.kind = FieldValue::Kind::kReal;
  v.real = d;
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
  v.text.assign(buffer, r.ptr);
  return v;
}

FieldValue text(std::span<const std::uint8_t> bytes) {
  FieldValue v;
  v.text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return v;
}

std::string twoDigits(unsigned n) {
  std::string s(2, '0');
  s[0] = static_cast<char>('0' + n / 10 % 10);
  s[1] = static_cast<char>('0' + n % 10);
  return s;
}

FieldValue date(std::uint32_t stored) {
  FieldValue v;
  v.kind = FieldValue::Kind::kDate;
  v.integer = stored;
  if (stored == 0) return v;  // no date
  const unsigned day = stored & 0xFF;
  const unsigned month = (stored >> 8) & 0xFF;
  const unsigned year = stored >> 16;
  if (day < 1 || day > 31 || month < 1 || month > 12) return invalid(std::to_string(stored));
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", year, month, day);
  v.text = buffer;
  return v;
}

FieldValue time(std::uint32_t stored) {
  const unsigned hundredths = stored & 0xFF;
  const unsigned seconds = (stored >> 8) & 0xFF;
  const unsigned minutes = (stored >> 16) & 0xFF;
  const unsigned hours = stored >> 24;
  if (hundredths > 99 || seconds > 59 || minutes > 59 || hours > 23) {
    return invalid(std::to_string(stored));
  }
  FieldValue v;
  v.kind = FieldValue::Kind::kTime;
  v.integer = stored;
  v.text = twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(seconds) + "." +
           twoDigits(hundredths);
  return v;
}

FieldValue decimal(std::span<const std::uint8_t> bytes, std::uint8_t places) {
  const fileaccess::DecimalParts parts = fileaccess::readDecimal(bytes, places);
  FieldValue v;
  v.kind = parts.wellFormed ? FieldValue::Kind::kDecimal : FieldValue::Kind::kInvalid;
  v.text = fileaccess::decimalText(bytes, places);
  return v;
}

// The element's bytes decoded by its type; the span holds exactly the
// element.
FieldValue decodeElement(const FieldInfo& f, std::span<const std::uint8_t> b) {
  const std::size_t n = b.size();
  switch (f.type) {
    case FieldType::kByte:
      return n == 1 ? integer(b[0]) : invalid();
    case FieldType::kShort:
      return n == 2 ? integer(static_cast<std::int16_t>(platform::loadLe16(b, 0))) : invalid();
    case FieldType::kUshort:
      return n == 2 ? integer(platform::loadLe16(b, 0)) : invalid();
    case FieldType::kLong:
      return n == 4 ? integer(static_cast<std::int32_t>(platform::loadLe32(b, 0))) : invalid();
    case FieldType::kUlong:
      return n == 4 ? integer(platform::loadLe32(b, 0)) : invalid();
    case FieldType::kDate:
      return n == 4 ? date(platform::loadLe32(b, 0)) : invalid();
    case FieldType::kTime:
      return n == 4 ? time(platform::loadLe32(b, 0)) : invalid();
    case FieldType::kSreal:
      return n == 4 ? real(std::bit_cast<float>(platform::loadLe32(b, 0))) : invalid();
    case FieldType::kReal:
      return n == 8 ? real(std::bit_cast<double>(platform::loadLe64(b, 0))) : invalid();
    case FieldType::kDecimal:
    case FieldType::kPdecimal:
      return n >= 1 ? decimal(b, f.places) : invalid();
    case FieldType::kString: {
      std::size_t end = n;
      while (end > 0 && b[end - 1] == ' ') --end;
      return text(b.first(end));
    }
    case FieldType::kCstring: {
      std::size_t end = 0;
      while (end < n && b[end] != 0) ++end;
      return text(b.first(end));
    }
    case FieldType::kPstring: {
      if (n == 0) return text({});
      const std::size_t length = std::min<std::size_t>(b[0], n - 1);
      return text(b.subspan(1, length));
    }
    case FieldType::kGroup: {
      FieldValue v;
      v.kind = FieldValue::Kind::kGroup;
      return v;
    }
  }
  return invalid();
}

}  // namespace

bool FieldValue::isNumber() const {
  switch (kind) {
    case Kind::kInteger:
    case Kind::kDecimal:
      return true;
    case Kind::kReal:
      return std::isfinite(real);
    default:
      return false;
  }
}

FieldValue decodeField(const TableDefinition& definition, std::size_t field,
                       std::span<const std::uint8_t> record, std::uint32_t element) {
  if (field >= definition.fields.size() || record.size() < definition.recordLength) {
    return invalid();
  }
  const FieldInfo& f = definition.fields[field];
  if (element >= f.elementCount) return invalid();
  const std::uint64_t begin = std::uint64_t{f.offset} + std::uint64_t{element} * f.elementSize;
  const std::uint64_t size = f.type == FieldType::kGroup ? 0 : f.elementSize;
  if (begin + size > record.size()) return invalid();
  return decodeElement(
      f, record.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(size)));
}

}  // namespace qbx
