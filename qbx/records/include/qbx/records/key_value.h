// Key values: the fixed-length byte string that stands for one record in one
// key, formed so that unsigned byte order is the key's order (numbers by
// value, strings by the table's collation, descending components reversed),
// and the key entries that carry them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "qbx/records/table_def.h"

namespace qbx::records {

// Writes the key value of the record image for the key into out, which holds
// at least key.valueLength bytes. The image is in the program's code page and
// record length bytes long. Allocates nothing.
void formKeyValue(const QbxTableDef& table, const QbxKeyDef& key,
                  std::span<const std::uint8_t> record, std::span<std::uint8_t> out);

// True when the key has the OPT flag and every component field is blank in
// the image: STRING and GROUP all spaces, CSTRING and PSTRING a first byte of
// 0, any other type all zero bytes. Such a record has no entry in the key.
bool blankForOpt(const QbxTableDef& table, const QbxKeyDef& key,
                 std::span<const std::uint8_t> record);

// Writes one key entry of the record into out (value length + 9 bytes): the
// key part (table number, key number, value, and for DUP keys the record
// number) followed by the data part (for unique keys the record number), so
// that it can be formed straight into an entry of the tree.
void formKeyEntry(const QbxTableDef& table, const QbxKeyDef& key,
                  std::span<const std::uint8_t> record, std::uint32_t recordNumber,
                  std::span<std::uint8_t> out);

// One key entry: table number, key number, key value, record number. For a
// unique key the record number is the data part; for a DUP key it ends the
// key part and the data part is empty. The buffer is reused from one make()
// to the next, so forming entries in a loop allocates only when a longer key
// comes along.
class KeyEntry {
 public:
  KeyEntry() : bytes_(kKeyEntryOverhead, 0), keyLength_(kTablePrefixSize) {}

  // Sets the table and key number and sizes the entry; the value is formed
  // from the image when one is given (non-empty), else zero. The record
  // number is 0.
  void make(const QbxTableDef& table, const QbxKeyDef& key,
            std::span<const std::uint8_t> record = {});

  std::span<const std::uint8_t> keyPart() const { return {bytes_.data(), keyLength_}; }
  std::span<const std::uint8_t> dataPart() const {
    return {bytes_.data() + keyLength_, bytes_.size() - keyLength_};
  }
  // The whole entry, key part then data part.
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  std::span<std::uint8_t> value() {
    return {bytes_.data() + kTablePrefixSize, bytes_.size() - kKeyEntryOverhead};
  }
  std::span<const std::uint8_t> value() const {
    return {bytes_.data() + kTablePrefixSize, bytes_.size() - kKeyEntryOverhead};
  }
  void setRecordNumber(std::uint32_t recordNumber);
  std::uint32_t recordNumber() const;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t keyLength_ = 0;
};

// The key value length that a key's entry can carry: an entry of value
// length + 9 bytes must fit one page.
constexpr bool keyEntryFits(std::uint64_t valueLength) {
  return valueLength + kKeyEntryOverhead <= kMaxEntrySize;
}

}  // namespace qbx::records
