#include "convert23/catalogue_file.h"

#include <algorithm>
#include <cstring>

#include "catalogue_layout.h"
#include "convert23/catalogue.h"

namespace convert23 {

CatalogueFile::CatalogueFile(Layout layout, std::uint8_t attributes)
    : layout_(layout), storage_(std::make_unique<CatalogueLayout>()), name_(kNameLength, ' ') {
  const bool newLayout = layout == Layout::kNew;
  declareLayout(*storage_, file_, newLayout ? "MOV" : "IN", name_.data(), newLayout, attributes);
}

CatalogueFile::~CatalogueFile() = default;

bool CatalogueFile::setName(std::string_view name) {
  if (name.size() > kNameLength) return false;
  std::fill(name_.begin(), name_.end(), ' ');
  std::copy(name.begin(), name.end(), name_.begin());
  return true;
}

std::span<std::uint8_t> CatalogueFile::record() { return storage_->record; }

void CatalogueFile::clearRecord() {
  std::copy(storage_->clearedImage.begin(), storage_->clearedImage.end(), storage_->record.begin());
}

std::span<const fileaccess::FieldEntry> CatalogueFile::fields() const { return storage_->fields; }

const fileaccess::FieldEntry* CatalogueFile::field(std::string_view name) const {
  for (const fileaccess::FieldEntry& entry : storage_->fields) {
    const std::size_t colon = entry.label.find(':');
    if (colon != std::string_view::npos && entry.label.substr(colon + 1) == name) return &entry;
  }
  return nullptr;
}

}  // namespace convert23
