// A catalogue declaration of its own, for programs other than the converter
// that write or read catalogue files: the sample generator, the record
// counter and tests. It holds the same fields and keys as REELCATALOG1 (old
// layout, prefix IN) or REELCATALOG2 (new layout, prefix MOV), with a name
// variable and a record buffer of its own and the attributes asked for (the
// old layout with CREATE is how a sample old-layout catalogue is made).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"

namespace convert23 {

enum class Layout { kOld, kNew };

struct CatalogueLayout;

class CatalogueFile {
 public:
  CatalogueFile(Layout layout, std::uint8_t attributes);
  ~CatalogueFile();
  // The FileBlock points into the object.
  CatalogueFile(const CatalogueFile&) = delete;
  CatalogueFile& operator=(const CatalogueFile&) = delete;

  fileaccess::FileBlock& block() { return file_; }
  Layout layout() const { return layout_; }

  // Sets the name variable (space padded); false, leaving it unchanged, for a
  // name longer than the variable's 260 characters.
  [[nodiscard]] bool setName(std::string_view name);

  std::span<std::uint8_t> record();
  // Strings to spaces, numbers to zero.
  void clearRecord();
  // The field entries of the layout, entry 0 being the record.
  std::span<const fileaccess::FieldEntry> fields() const;
  // The entry whose label is the prefix, ":" and name (as "TITLE"); null when
  // there is none.
  const fileaccess::FieldEntry* field(std::string_view name) const;

 private:
  Layout layout_;
  std::unique_ptr<CatalogueLayout> storage_;
  std::vector<char> name_;
  fileaccess::FileBlock file_;
};

}  // namespace convert23
