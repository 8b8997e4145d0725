// The component text of a dynamic index: which fields it orders by, and in
// which direction.
#include <cstddef>
#include <vector>

#include "key_build_fields.h"
#include "qbx/records/key_build.h"
#include "qbx/records/key_value.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

// The field a component name names, or kNoField. A dimensioned field
// cannot be a key component.
std::size_t fieldNamed(const QbxTableDef& table, std::string_view name) {
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    const QbxFieldDef& f = table.fields[i];
    if (f.name && equalsIgnoringCase(*f.name, name)) {
      return f.elementCount == 1 ? i : kNoField;
    }
  }
  return kNoField;
}

// One component of the text: [spaces] [+|-] [spaces] name [spaces].
struct ParsedComponent {
  std::size_t field = kNoField;
  bool descending = false;
};

ParsedComponent parseComponent(const QbxTableDef& table, std::string_view part) {
  std::size_t at = 0;
  while (at < part.size() && part[at] == ' ') ++at;
  ParsedComponent c;
  if (at < part.size() && (part[at] == '+' || part[at] == '-')) {
    c.descending = part[at] == '-';
    ++at;
    while (at < part.size() && part[at] == ' ') ++at;
  }
  std::size_t end = part.size();
  while (end > at && part[end - 1] == ' ') --end;
  if (end > at) c.field = fieldNamed(table, part.substr(at, end - at));
  return c;
}

}  // namespace

int setDynamicComponents(const QbxTableDef& table, QbxKeyDef& key, std::string_view text) {
  // First pass: every name must match, and the whole value must fit an
  // entry, before anything is allocated or changed.
  std::size_t count = 0;
  std::uint64_t length = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view part =
        text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const ParsedComponent c = parseComponent(table, part);
    if (c.field == kNoField) return kErrInvalidIndexString;
    ++count;
    length += table.fields[c.field].totalSize;
    if (!keyEntryFits(length)) return kErrInvalidKeyLength;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  // Second pass: fill the new list (no longer than the text has commas).
  std::vector<QbxKeyComponent> components;
  components.reserve(count);
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view part =
        text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const ParsedComponent c = parseComponent(table, part);
    components.push_back({static_cast<std::uint32_t>(c.field), c.descending});
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  key.components = std::move(components);
  key.valueLength = static_cast<std::uint32_t>(length);
  return kOk;
}

}  // namespace qbx::records
