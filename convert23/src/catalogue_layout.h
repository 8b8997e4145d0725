// The storage behind one catalogue declaration: its FieldDesc stream with the
// entries read back from it, its key labels, components and descriptors, its
// record buffer and the cleared image of that record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert23/catalogue.h"
#include "fileaccess/field_desc.h"

namespace convert23 {

struct CatalogueLayout {
  std::vector<std::uint8_t> stream;
  std::vector<fileaccess::FieldEntry> fields;  // entry 0 is the record
  std::vector<std::uint8_t> clearedImage;
  std::vector<std::uint8_t> record;
  std::array<std::string, kKeyCount> keyLabels;
  std::array<std::array<std::int32_t, 3>, kKeyCount> components{};
  std::array<fileaccess::KeyDesc, kKeyCount> keys{};
  std::array<fileaccess::KeyDesc*, kKeyCount> keyTable{};
};

CatalogueLayout& sourceLayout();
CatalogueLayout& targetLayout();

// Declares one catalogue file: the layout's stream, entries, cleared image,
// record buffer and keys, and the FileBlock naming them with the given name
// variable (kNameLength characters) and attributes.
void declareLayout(CatalogueLayout& layout, fileaccess::FileBlock& file, std::string_view prefix,
                   char* nameVariable, bool newLayout, std::uint8_t attributes);

}  // namespace convert23
