// The declaration of a file as a program hands it to a driver: the FileBlock
// with its record layout (a FieldDesc stream, see field_desc.h), its keys
// (KeyDesc) and its memos (MemoDesc). These live in the program's static
// storage; the fields marked "driver-owned" start at 0 and are set and cleared
// by the driver alone.
#pragma once

#include <cstdint>
#include <string>

#include "fileaccess/field_format.h"

namespace fileaccess {

struct FileBlock;

// The driver's entry: operation code, the FileBlock, and the operation's
// argument words in the order the caller wrote them. Argument words are
// pointer-wide so that key descriptors and addresses travel in them
// (cast to std::intptr_t).
using DriverEntryFn = int (*)(int op, FileBlock* file, const std::intptr_t* args);

// FileBlock attributes.
inline constexpr std::uint8_t kAttrEncrypt = 0x02;
inline constexpr std::uint8_t kAttrCreate = 0x04;
inline constexpr std::uint8_t kAttrReclaim = 0x08;
inline constexpr std::uint8_t kAttrThread = 0x10;
inline constexpr std::uint8_t kAttrOem = 0x20;
inline constexpr std::uint8_t kAttrCarried = 0x40;  // carried by the driver, no effect

// KeyDesc flags.
inline constexpr std::uint32_t kKeyDup = 0x0001;
inline constexpr std::uint32_t kKeyOpt = 0x0002;
inline constexpr std::uint32_t kKeyNocase = 0x0004;
inline constexpr std::uint32_t kKeyCarried = 0x0008;  // carried and compared, no other use
inline constexpr std::uint32_t kKeyPrimary = 0x0010;
inline constexpr std::uint32_t kKeyIndex = 0x4000;  // clear: KEY

// MemoDesc flags.
inline constexpr std::uint8_t kMemoBinary = 0x02;
inline constexpr std::uint8_t kMemoBlob = 0x04;  // clear: MEMO

// Text forms of the name fields (nameLength, labelLength, ...): a positive n
// is a text of n characters, space padded.
inline constexpr std::int32_t kTextZeroTerminated = -1;
inline constexpr std::int32_t kTextLengthPrefixed = -2;

struct KeyDesc {
  const char* externalName = nullptr;  // NAME attribute, or null
  std::int32_t externalNameLength = 0;
  const char* label = nullptr;  // e.g. "IN:TITLEKEYKEY", not zero-terminated
  std::int32_t labelLength = 0;
  void* driverKey = nullptr;  // driver-owned
  std::uint32_t keyFlags = 0;
  std::uint8_t componentCount = 0;  // 0 with kKeyIndex: a dynamic index
  // +n: field n ascending, -n: field n descending (field numbers of the stream).
  const std::int32_t* components = nullptr;
  FileBlock* declaringFile = nullptr;
};

struct MemoDesc {
  const char* externalName = nullptr;
  std::int32_t externalNameLength = 0;
  const char* label = nullptr;
  std::int32_t labelLength = 0;
  char* memoBuffer = nullptr;  // driver-owned: a buffer of memoSize bytes
  void* driverMemo = nullptr;  // driver-owned
  std::uint8_t memoFlags = 0;
  std::uint32_t memoSize = 0;
};

struct FileBlock {
  DriverEntryFn driverEntry = nullptr;
  const char* name = nullptr;  // usually the program's name variable
  std::int32_t nameLength = 0;
  const char* driverOptions = nullptr;
  std::int32_t driverOptionsLength = 0;
  const char* owner = nullptr;
  std::int32_t ownerLength = 0;
  std::uint8_t attributes = 0;
  std::uint8_t keyCount = 0;
  std::uint8_t memoCount = 0;
  std::uint32_t recordLength = 0;
  const std::uint8_t* recordDesc = nullptr;  // FieldDesc stream
  KeyDesc* const* keyTable = nullptr;        // keyCount entries; null means no keys
  MemoDesc* const* memoTable = nullptr;      // memoCount entries; null means no memos
  std::uint8_t* recordBuffer = nullptr;      // recordLength bytes
  void* driverState = nullptr;               // driver-owned
};

// The characters of a text in one of the three forms: positive n (the n
// characters as they are), -1 (up to the zero byte), -2 (the characters after
// the length byte). A null text, length 0 or another negative form is empty.
std::string takeText(const char* text, std::int32_t length);

// As takeText, with trailing blanks cut: the way a driver takes a name, an
// owner or a driver option text.
std::string takeName(const char* text, std::int32_t length);

// Checks a key's components against a record of fieldCount field entries
// (entry 0, the record itself, not counted): 0, or 75 "Invalid Field Type
// Descriptor" when a component is 0 or names a field beyond the last, or when
// components are declared but the array is missing.
[[nodiscard]] int checkKeyComponents(const KeyDesc& key, std::uint32_t fieldCount);

// The number of keys and memos a driver sees: 0 when the table is null.
inline std::uint32_t effectiveKeyCount(const FileBlock& file) {
  return file.keyTable != nullptr ? file.keyCount : 0;
}
inline std::uint32_t effectiveMemoCount(const FileBlock& file) {
  return file.memoTable != nullptr ? file.memoCount : 0;
}

}  // namespace fileaccess
