// A QBX file opened for reading: its header and page regions, its tables,
// their stored definitions, and readers that walk a table's records in
// record-number order or in the order of one of its keys.
//
//   qbx::Database db;
//   if (db.open("catalogue.rcx") != 0) ...;
//   std::vector<qbx::TableInfo> tables;
//   if (db.tables(&tables) != 0) ...;
//   std::unique_ptr<qbx::RecordReader> reader;
//   if (db.openReader(tables[0].name, &reader) != 0) ...;
//   if (reader->startFileOrder() != 0) ...;
//   while (reader->next() == 0) {
//     qbx::FieldValue title = reader->field(1);
//   }
//
// The file is opened for reading and shared: other programs may read and
// write it meanwhile, and nothing here ever writes to it. One thread uses a
// Database and its readers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qbx/definition.h"
#include "qbx/errors.h"
#include "qbx/record_reader.h"

namespace qbx {

// Page size classes: class c holds pages of c * 256 bytes (1 to 59).
inline constexpr int kMaxSizeClass = 59;

enum class PendingLog {
  kNone,         // the last commit finished
  kReadThrough,  // a commit was cut short after its log was complete: the
                 // file is read through the log until a writer rolls it forward
  kIgnored,      // a commit was cut short before its log was complete: the
                 // old state stands
};

struct FileInfo {
  std::uint64_t length = 0;      // bytes in the file
  std::uint64_t logicalEnd = 0;  // end of the highest page region
  std::uint32_t logStart = 0;
  std::uint32_t logEnd = 0;
  PendingLog pendingLog = PendingLog::kNone;
  std::int32_t changeCount = 0;     // raised by every commit
  std::uint32_t recordCounter = 0;  // the last record or table number issued
  std::int32_t rootPage = 0;
  // Pages in each size class's region (index = class; index 0 unused).
  std::array<std::uint32_t, kMaxSizeClass + 1> pagesPerClass{};
  std::uint32_t pages = 0;
  // Levels of the entry tree (1: the root is a leaf); 0 while the file holds
  // no tree yet.
  std::uint32_t treeDepth = 0;
};

struct TableInfo {
  std::string name;  // upper case, as stored ("UNNAMED" for a file's default table)
  std::uint32_t number = 0;
  std::uint32_t records = 0;  // the table's record count
  bool hasStatus = false;     // false: the count is missing from the file
  // The stored definition's result: 0, or why it cannot be used (47, 90);
  // the sizes below are 0 then.
  int definitionError = 0;
  std::uint32_t recordLength = 0;
  std::uint32_t keys = 0;
  std::uint32_t memos = 0;
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the file for reading, others sharing it freely. The password is
  // the owner text of an encrypted file (empty: none). 0, 2 no such file,
  // 3 no such directory, 5 refused, 36 not a QBX file (or a wrong password),
  // 45 a name that cannot be a file name, 90.
  [[nodiscard]] int open(const std::string& path, std::string_view password = {});
  // Closes the file; readers made by this Database must be gone first.
  void close();
  bool isOpen() const;
  // The file's full name (absolute, with its default extension).
  const std::string& fullName() const;

  [[nodiscard]] int fileInfo(FileInfo* out);
  // Every table of the file, in name order.
  [[nodiscard]] int tables(std::vector<TableInfo>* out);
  // The table a command names when it names none: the file's only table, or
  // "UNNAMED". Empty when the file has several tables and none is UNNAMED.
  [[nodiscard]] int defaultTable(std::string* out);

  // The stored definition of a table (the name in any case): 0, 2 no such
  // table, 47 a definition that cannot be used, 90.
  [[nodiscard]] int definition(std::string_view table, TableDefinition* out);
  // The stored definition written in the declaration language, lines ending
  // in "\n".
  [[nodiscard]] int declaration(std::string_view table, std::string* out);

  // A reader of the table's records through the driver: 0, 2 no such table,
  // 47, 90, or the driver's error for OPEN.
  [[nodiscard]] int openReader(std::string_view table, std::unique_ptr<RecordReader>* out);

  // The internal error number behind the last result 90 (0: none).
  int internalError() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qbx
