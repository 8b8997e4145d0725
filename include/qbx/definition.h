// A table's stored definition as a program sees it: the record length, the
// fields with their types and places in the record, the keys with their
// components, and the memos. A QBX file carries the definition of each of
// its tables, so a file can be read without knowing its layout beforehand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qbx {

// Field type codes as the definition stores them.
enum class FieldType : std::uint8_t {
  kByte = 1,      // unsigned 8-bit
  kShort = 2,     // signed 16-bit, least significant byte first
  kUshort = 3,    // unsigned 16-bit
  kDate = 4,      // 4 bytes: day, month, year (16-bit)
  kTime = 5,      // 4 bytes: hundredths, seconds, minutes, hours
  kLong = 6,      // signed 32-bit
  kUlong = 7,     // unsigned 32-bit
  kSreal = 8,     // 4-byte IEEE float
  kReal = 9,      // 8-byte IEEE double
  kDecimal = 10,  // packed decimal, sign nibble first
  kPdecimal = 11,
  kString = 18,   // fixed length, blank padded
  kCstring = 19,  // zero terminated within its bytes
  kPstring = 20,  // length byte, then the text
  kGroup = 22,    // the fields that follow it inside its bytes
};

// The type's name in the declaration language ("LONG", "STRING", ...).
std::string fieldTypeName(FieldType type);

struct FieldInfo {
  std::string name;  // the NAME attribute when the field had one, else its label
  FieldType type = FieldType::kByte;
  std::uint32_t offset = 0;        // first byte in the record
  std::uint32_t elementCount = 1;  // elements of a dimensioned field
  std::uint32_t elementSize = 0;   // bytes per element
  std::uint32_t totalSize = 0;     // elementCount * elementSize
  std::uint8_t places = 0;         // DECIMAL and PDECIMAL
  std::string picture;
  bool overlay = false;  // shares bytes with an earlier field
  int group = -1;        // index of the innermost GROUP that holds it; -1: none
};

struct KeyComponent {
  std::size_t field = 0;  // index into TableDefinition::fields
  bool descending = false;
};

struct KeyInfo {
  std::string label;
  std::string externalName;
  std::vector<KeyComponent> components;
  bool dup = false;     // several records may share a value
  bool opt = false;     // records blank in every component have no entry
  bool noCase = false;  // letters compare without regard to case
  bool primary = false;
  bool index = false;    // an INDEX: brought up to date only by a build
  bool dynamic = false;  // an INDEX without components, built at run time
};

struct MemoInfo {
  std::string label;
  std::string externalName;
  std::uint32_t size = 0;
  bool blob = false;
  bool binary = false;
};

struct TableDefinition {
  std::uint32_t recordLength = 0;
  bool oem = false;  // string fields are kept in the OEM code page on disk
  std::vector<FieldInfo> fields;
  std::vector<KeyInfo> keys;
  std::vector<MemoInfo> memos;

  // The index of the key with this label, compared without regard to case;
  // -1 when there is none.
  int findKey(const std::string& label) const;
};

}  // namespace qbx
