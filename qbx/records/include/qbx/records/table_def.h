// The driver's own description of one declared table: fields, keys and memos
// with their offsets, sizes and flags. All record and key work reads the
// layout from here, never from the declaration again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qbx/records/collation.h"
#include "qbx/records/format.h"

namespace fileaccess {
struct FileBlock;
struct KeyDesc;
struct MemoDesc;
}  // namespace fileaccess

namespace qbx::records {

// A declaration text that may be absent (stored as 00 01) or empty (00 00).
using OptText = std::optional<std::string>;

struct QbxFieldDef {
  std::uint8_t type = 0;          // value type code (BYTE 1 ... GROUP 22)
  std::uint32_t offset = 0;       // position in the record
  OptText name;                   // NAME attribute if any, else the label
  OptText label;
  OptText externalName;           // the NAME attribute
  std::uint32_t memberCount = 0;  // GROUP: fields inside it at all depths
  std::uint32_t elementCount = 1; // product of the dimensions
  std::uint32_t totalSize = 0;    // element count x element size
  std::uint32_t overlay = 0;      // 1: the field shares bytes with an earlier one
  std::uint32_t overlaidField = 0;  // 1-based field it lies over (own overlay only)
  std::uint32_t fieldNumber = 0;  // 0-based position in the field list
  std::uint8_t places = 0;        // DECIMAL, PDECIMAL
  std::uint8_t elementSize = 0;   // DECIMAL, PDECIMAL: bytes per element
  std::uint32_t elementLength = 0;  // STRING, CSTRING, PSTRING: bytes per element
  OptText picture;                  // STRING, CSTRING, PSTRING
};

struct QbxKeyComponent {
  std::uint32_t field = 0;  // index into QbxTableDef::fields
  bool descending = false;
};

struct QbxKeyDef {
  OptText externalName;
  OptText label;
  std::vector<QbxKeyComponent> components;
  std::uint8_t flags = 0;      // kKeyDup, kKeyOpt, kKeyNoCase, ... kKeyDynamic
  std::uint8_t keyNumber = 0;  // 0-based position; the kind byte of its entries
  std::uint32_t valueLength = 0;  // sum of the components' total sizes
  fileaccess::KeyDesc* desc = nullptr;  // the declaration's key, linked both ways

  bool isDup() const { return (flags & kKeyDup) != 0; }
  bool isOpt() const { return (flags & kKeyOpt) != 0; }
  bool isNoCase() const { return (flags & kKeyNoCase) != 0; }
  bool isIndex() const { return (flags & kKeyIndex) != 0; }
  bool isDynamic() const { return (flags & kKeyDynamic) != 0; }
  // Length of the key part of its entries: table number, key number, value
  // and, for DUP keys, the record number.
  std::uint32_t entryKeyLength() const {
    return static_cast<std::uint32_t>(kTablePrefixSize) + valueLength +
           (isDup() ? static_cast<std::uint32_t>(kRecordNumberSize) : 0u);
  }
  std::uint32_t entryDataLength() const {
    return isDup() ? 0u : static_cast<std::uint32_t>(kRecordNumberSize);
  }
};

struct QbxMemoDef {
  OptText externalName;
  OptText label;
  std::unique_ptr<char[]> buffer;  // size bytes, blank filled; the declaration points at it
  std::uint32_t size = 0;
  std::uint8_t flags = 0;  // kMemoBinary, kMemoBlob
  fileaccess::MemoDesc* desc = nullptr;

  bool isBlob() const { return (flags & kMemoBlob) != 0; }
};

class QbxTableDef {
 public:
  QbxTableDef() = default;
  // Clears the declaration's links to the keys and memos of this definition.
  ~QbxTableDef();
  QbxTableDef(const QbxTableDef&) = delete;
  QbxTableDef& operator=(const QbxTableDef&) = delete;

  std::string name;  // the declared file name, later the full name with the table part
  OptText owner;
  OptText driverOptions;
  std::uint8_t attributes = 0;  // kTableEncrypt ... kTableSixth
  std::uint8_t* recordBuffer = nullptr;
  std::uint32_t recordLength = 0;
  fileaccess::FileBlock* fileBlock = nullptr;

  // Element addresses are linked from the declaration: the lists are sized
  // once when built or read and never grow afterwards.
  std::vector<QbxFieldDef> fields;
  std::vector<QbxKeyDef> keys;
  std::vector<QbxMemoDef> memos;

  // Open-time state: the table's number and the collation block kept in the
  // file with it (absent: the runtime's current settings are used).
  std::uint32_t tableNumber = 0;
  std::optional<CollationTables> collation;

  bool isOem() const { return (attributes & kTableOem) != 0; }
  bool hasBlobs() const;
  // The collation that key forming uses: the table's own block, else the
  // runtime's current settings.
  const CollationTables& activeCollation() const;

  // Links the declaration's key and memo descriptors to these lists (key i
  // and memo i of the declaration to entry i), setting the memo buffers.
  void linkDeclaration();
  // Clears every link that linkDeclaration set.
  void unlinkDeclaration();
};

}  // namespace qbx::records
