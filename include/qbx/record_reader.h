// Reading the records of one table through the driver, in record-number
// order or in the order of one of its keys, with the fields decoded by the
// stored definition. Made by Database::openReader.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "qbx/definition.h"
#include "qbx/field_value.h"

namespace qbx {

class RecordReader {
 public:
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  const TableDefinition& definition() const;

  // Starts before the first record in record-number order.
  [[nodiscard]] int startFileOrder();
  // Starts before the first entry of the key (an index into
  // definition().keys). A key that is not complete in the file (records
  // added after its last build) reads only the records it holds.
  [[nodiscard]] int startKeyOrder(std::size_t key);
  // Reads the next record: 0, 33 after the last one, or an error (90 for a
  // damaged file; internalError() then tells which check failed).
  [[nodiscard]] int next();

  // The record last read: its number and its image (record length bytes,
  // strings in the program's code page).
  std::uint32_t recordNumber() const;
  std::span<const std::uint8_t> record() const;
  FieldValue field(std::size_t index, std::uint32_t element = 0) const {
    return decodeField(definition(), index, record(), element);
  }

  int internalError() const;

  struct Impl;
  explicit RecordReader(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qbx
