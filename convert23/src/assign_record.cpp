#include <algorithm>
#include <cstring>

#include "catalogue_layout.h"
#include "convert23/catalogue.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace convert23 {

void AssignRecord() {
  const CatalogueLayout& in = sourceLayout();
  CatalogueLayout& out = targetLayout();
  const std::span<const std::uint8_t> source = in.record;
  const std::span<std::uint8_t> target = out.record;

  std::copy(out.clearedImage.begin(), out.clearedImage.end(), target.begin());
  // Field by field in declaration order; both layouts have the same entries
  // at the same places, checked when they were declared.
  for (std::size_t i = 1; i < in.fields.size(); ++i) {
    const fileaccess::FieldEntry& from = in.fields[i];
    const fileaccess::FieldEntry& to = out.fields[i];
    const auto src = source.subspan(from.offset, static_cast<std::size_t>(from.totalSize()));
    const auto dst = target.subspan(to.offset, static_cast<std::size_t>(to.totalSize()));
    if (from.type == fileaccess::kTypeLong && to.type == fileaccess::kTypeDecimal) {
      const auto value = static_cast<std::int32_t>(platform::loadLe32(src, 0));
      // The size is the declaration's own, never 0.
      static_cast<void>(fileaccess::storeDecimal(dst, value, to.places));
    } else if (from.type == fileaccess::kTypeString || from.type == fileaccess::kTypeGroup) {
      fileaccess::assignString(dst, src);
    } else {
      std::memcpy(dst.data(), src.data(), std::min(dst.size(), src.size()));
    }
  }
}

}  // namespace convert23
