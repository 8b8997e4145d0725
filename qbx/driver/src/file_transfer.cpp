// RENAME and COPY: moving or copying a whole physical file, or one table of
// it into another file or under another name.
#include <string>

#include "handlers.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "qbx/driver/file_names.h"
#include "qbx/driver/result_codes.h"
#include "qbx/records/table_transfer.h"

namespace qbx::driver {
namespace {

bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The new name as the program gave it, without white space. Its table part,
// if any, is upper-cased when it is split; the file part keeps its letter
// case, since on this system names that differ in case are different files.
std::string newNameOf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!isWhiteSpace(c)) out.push_back(c);
  }
  return out;
}

// Whether the declared name, in its declared length, names a table: a "\!"
// after its first character. Zero-terminated and length-prefixed names
// count as naming none.
bool declaredNameHasTablePart(const fileaccess::FileBlock& block) {
  if (block.name == nullptr || block.nameLength <= 0) return false;
  const std::string declared = fileaccess::takeText(block.name, block.nameLength);
  return declared.find(kTableSeparator, 1) != std::string::npos;
}

// The extension of a full name's last component, with its dot; empty when
// it has none.
std::string extensionOf(const std::string& fullName) {
  const std::string last = platform::lastComponent(fullName);
  const std::size_t dot = last.find_last_of('.');
  return dot == std::string::npos ? std::string() : last.substr(dot);
}

bool sameFile(const std::string& a, const std::string& b) {
  platform::FileId ida;
  platform::FileId idb;
  return platform::fileId(a, &ida) == 0 && platform::fileId(b, &idb) == 0 && ida == idb;
}

// One attempt: RENAME moves without ever replacing an existing file; COPY
// replaces one, and copying a file onto itself succeeds without copying.
int transferTo(const std::string& source, const std::string& target, bool move) {
  if (move) return platform::moveFile(source, target);
  if (sameFile(source, target)) return 0;
  return platform::copyFile(source, target, true);
}

// The whole-file path: first into the target as a directory under the
// source's own last component, then to the target's full name with the
// source's extension as the default. 0 on success, else the error that
// ended it.
int transferWholeFile(const std::string& declaredName, const std::string& newName, bool move) {
  std::string source;
  int result = formFullName(declaredName, kDefaultExtension, &source);
  if (result != 0) return result;
  std::string targetBase;
  if (platform::isDirectory(newName)) {
    targetBase = newName;
  } else {
    result = formFullName(newName, kDefaultExtension, &targetBase);
    if (result != 0) return result;
  }
  std::string first = targetBase;
  if (first.empty() || first.back() != '/') first += '/';
  first += platform::lastComponent(source);
  result = transferTo(source, first, move);
  if (result == 0) return 0;
  std::string second;
  result = formFullName(targetBase, extensionOf(source), &second);
  if (result != 0) return result;
  return transferTo(source, second, move);
}

// The table-level path: the source table is copied or moved into the
// target file (created when missing) under the target table's name.
int transferTable(records::QbxTableDef& def, const std::string& newName, bool move) {
  TableName source;
  int result = splitTableName(def.name, &source);
  if (result != 0) return result;
  std::string sourceFile;
  result = formFullName(source.file, kDefaultExtension, &sourceFile);
  if (result != 0) return result;
  TableName target;
  result = splitTableName(newName, &target);
  if (result != 0) return result;
  std::string targetFile;
  result = formFullName(target.file, kDefaultExtension, &targetFile);
  if (result != 0) return result;
  return records::copyTable(def, sourceFile, source.table, targetFile, target.table, move);
}

int transfer(DriverCall& call, bool move) {
  const std::string newName = newNameOf(call.a());
  // Plain names on both sides move or copy the whole file; when that fails
  // in both attempts, the table is moved or copied instead.
  if (newName.find(kTableSeparator) == std::string::npos && !declaredNameHasTablePart(call.block) &&
      transferWholeFile(call.file.def->name, newName, move) == 0) {
    return 0;
  }
  return transferTable(*call.file.def, newName, move);
}

}  // namespace

int handleRename(DriverCall& call) { return transfer(call, true); }
int handleCopy(DriverCall& call) { return transfer(call, false); }

}  // namespace qbx::driver
