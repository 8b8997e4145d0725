#include "key_build_fields.h"

#include <bit>
#include <cmath>
#include <optional>

#include "fileaccess/field_format.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace qbx::records {
namespace {

using platform::ExpressionKind;
using platform::ExpressionValue;

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::optional<ExpressionKind> kindOf(const QbxFieldDef& field) {
  if (field.elementCount != 1) return std::nullopt;
  switch (field.type) {
    case fileaccess::kTypeByte:
    case fileaccess::kTypeShort:
    case fileaccess::kTypeUshort:
    case fileaccess::kTypeDate:
    case fileaccess::kTypeTime:
    case fileaccess::kTypeLong:
    case fileaccess::kTypeUlong:
    case fileaccess::kTypeSreal:
    case fileaccess::kTypeReal:
    case fileaccess::kTypeDecimal:
      return ExpressionKind::kNumber;
    case fileaccess::kTypeString:
    case fileaccess::kTypeCstring:
    case fileaccess::kTypePstring:
    case fileaccess::kTypeGroup:
      return ExpressionKind::kString;
    default:
      return std::nullopt;
  }
}

double decimalValue(std::span<const std::uint8_t> bytes, std::uint8_t places) {
  std::int64_t scaled = 0;
  if (!fileaccess::decimalToScaled(bytes, scaled)) return 0;
  return static_cast<double>(scaled) / std::pow(10.0, places);
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

int TableFilterFields::findField(std::string_view name, ExpressionKind* kind) const {
  for (std::size_t i = 0; i < table_.fields.size(); ++i) {
    const QbxFieldDef& f = table_.fields[i];
    if (!f.name || !equalsIgnoringCase(*f.name, name)) continue;
    const std::optional<ExpressionKind> k = kindOf(f);
    if (!k) return kNoSuchField;
    *kind = *k;
    return static_cast<int>(i);
  }
  return kNoSuchField;
}

ExpressionValue TableFilterFields::fieldValue(int field) const {
  if (field < 0 || static_cast<std::size_t>(field) >= table_.fields.size()) return {};
  const QbxFieldDef& f = table_.fields[static_cast<std::size_t>(field)];
  // The layout was checked against the record length when the table was
  // declared; an image of another length is still never read beyond.
  if (f.offset > image_.size() || f.totalSize > image_.size() - f.offset) return {};
  const std::span<const std::uint8_t> b = image_.subspan(f.offset, f.totalSize);
  const auto number = [](double v) { return ExpressionValue::ofNumber(v); };
  const auto text = [](std::span<const std::uint8_t> t) {
    return ExpressionValue::ofText(
        std::string_view(reinterpret_cast<const char*>(t.data()), t.size()));
  };
  switch (f.type) {
    case fileaccess::kTypeByte:
      return b.size() >= 1 ? number(b[0]) : ExpressionValue{};
    case fileaccess::kTypeShort:
      return b.size() >= 2 ? number(static_cast<std::int16_t>(platform::loadLe16(b, 0)))
                           : ExpressionValue{};
    case fileaccess::kTypeUshort:
      return b.size() >= 2 ? number(platform::loadLe16(b, 0)) : ExpressionValue{};
    case fileaccess::kTypeDate:
    case fileaccess::kTypeTime:
    case fileaccess::kTypeLong:
      return b.size() >= 4 ? number(static_cast<std::int32_t>(platform::loadLe32(b, 0)))
                           : ExpressionValue{};
    case fileaccess::kTypeUlong:
      return b.size() >= 4 ? number(platform::loadLe32(b, 0)) : ExpressionValue{};
    case fileaccess::kTypeSreal:
      return b.size() >= 4 ? number(std::bit_cast<float>(platform::loadLe32(b, 0)))
                           : ExpressionValue{};
    case fileaccess::kTypeReal:
      return b.size() >= 8 ? number(std::bit_cast<double>(platform::loadLe64(b, 0)))
                           : ExpressionValue{};
    case fileaccess::kTypeDecimal:
      return number(decimalValue(b, f.places));
    case fileaccess::kTypeCstring: {
      std::size_t n = 0;
      while (n < b.size() && b[n] != 0) ++n;
      return text(b.first(n));
    }
    case fileaccess::kTypePstring: {
      if (b.empty()) return text(b);
      const std::size_t n = std::min<std::size_t>(b[0], b.size() - 1);
      return text(b.subspan(1, n));
    }
    default:  // STRING and GROUP
      return text(b);
  }
}

}  // namespace qbx::records
