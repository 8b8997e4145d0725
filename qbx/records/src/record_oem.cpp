#include "qbx/records/record_oem.h"

#include "fileaccess/field_format.h"
#include "qbx/records/oem.h"
#include "qbx/records/string_fields.h"

namespace qbx::records {
namespace {

void convert(const QbxTableDef& table, std::span<std::uint8_t> image,
             const std::array<std::uint8_t, 256>& map) {
  for (const QbxFieldDef& f : table.fields) {
    if (f.overlay != 0 || f.totalSize == 0) continue;
    if (std::uint64_t{f.offset} + f.totalSize > image.size()) continue;
    std::span<std::uint8_t> field = image.subspan(f.offset, f.totalSize);
    std::span<std::uint8_t> text;
    switch (f.type) {
      case fileaccess::kTypeString:
        text = field;
        break;
      case fileaccess::kTypeCstring:
        text = field.first(cstringLength(field));
        break;
      case fileaccess::kTypePstring:
        text = field.subspan(1, pstringLength(field));
        break;
      default:
        continue;
    }
    for (auto& b : text) b = map[b];
  }
}

}  // namespace

void recordToOem(const QbxTableDef& table, std::span<std::uint8_t> image) {
  convert(table, image, charToOemTable());
}

void recordFromOem(const QbxTableDef& table, std::span<std::uint8_t> image) {
  convert(table, image, oemToCharTable());
}

}  // namespace qbx::records
