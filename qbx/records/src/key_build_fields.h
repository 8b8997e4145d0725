// The fields of a table as a filter expression sees them: found by name (the
// NAME attribute, else the label) without regard to letter case, and read
// from the record image the build is looking at. Whole numbers, DECIMAL and
// floating point fields are numbers; STRING, CSTRING, PSTRING and GROUP
// fields are strings. Dimensioned fields and other types are not offered.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/expression.h"
#include "qbx/records/table_def.h"

namespace qbx::records {

class TableFilterFields : public platform::ExpressionFields {
 public:
  explicit TableFilterFields(const QbxTableDef& table) : table_(table) {}

  // The image the values are read from: record length bytes.
  void setImage(std::span<const std::uint8_t> image) { image_ = image; }

  int findField(std::string_view name, platform::ExpressionKind* kind) const override;
  platform::ExpressionValue fieldValue(int field) const override;

 private:
  const QbxTableDef& table_;
  std::span<const std::uint8_t> image_;
};

// Letter case aside (ASCII letters), whether a equals b.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace qbx::records
