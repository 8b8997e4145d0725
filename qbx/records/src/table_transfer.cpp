// REMOVE, and COPY and RENAME of a table into the same or another physical
// file, with the record-number offset that keeps a copy's keys, memos and
// positions consistent.
#include "qbx/records/table_transfer.h"

#include <algorithm>
#include <optional>

#include "platform/endian.h"
#include "qbx/records/entry_buffer.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/format.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/shared_stores.h"
#include "qbx/records/table_names.h"
#include "qbx/store/cursor.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

// Where an entry of a table holds a record number that a copy shifts: the
// offset in the entry's bytes, and whether it is big-endian (entry keys) or
// little-endian (an out-of-date mark). None for entries without one.
struct NumberField {
  std::size_t offset = 0;
  bool bigEndian = true;
};

std::optional<NumberField> numberField(const store::QbxEntry& e) {
  if (e.keyLength < kTablePrefixSize) return std::nullopt;
  const std::uint8_t kind = e.bytes()[kKindOffset];
  if (kind <= kKindLastKey) {
    // Key entries end in the record number (the data part of a unique key,
    // the end of the key part of a DUP key).
    if (e.totalLength < kKeyEntryOverhead) return std::nullopt;
    return NumberField{static_cast<std::size_t>(e.totalLength - kRecordNumberSize), true};
  }
  if (kind == kKindDataRecord || kind == kKindMemoChunk) {
    if (e.keyLength < kDataRecordKeySize) return std::nullopt;
    return NumberField{kTablePrefixSize, true};
  }
  if (kind == kKindStatus && e.keyLength == kStatusKeySize &&
      e.bytes()[kTablePrefixSize] != kStatusTableSelector &&
      e.totalLength == kStatusKeySize + kStatusDataSize) {
    // A key's out-of-date mark; 0 (complete) stays 0.
    return NumberField{kStatusKeySize + 4, false};
  }
  return std::nullopt;
}

std::uint32_t loadNumber(const store::QbxEntry& e, const NumberField& f) {
  return f.bigEndian ? platform::loadBe32(e.all(), f.offset)
                     : platform::loadLe32(e.all(), f.offset);
}

void storeNumber(store::QbxEntry& e, const NumberField& f, std::uint32_t value) {
  if (f.bigEndian) {
    platform::storeBe32(e.all(), f.offset, value);
  } else {
    platform::storeLe32(e.all(), f.offset, value);
  }
}

bool ofTable(const store::QbxEntry* e, std::uint32_t tableNumber) {
  return e != nullptr && e->keyLength >= kTablePrefixSize &&
         platform::loadBe32(e->key(), 0) == tableNumber;
}

// The highest record number held by the table's entries (0 for none).
std::uint32_t highestNumber(store::QbxStore& s, std::uint32_t tableNumber) {
  EntryBuffer at;
  std::array<std::uint8_t, kTableNumberSize> start{};
  platform::storeBe32(start, 0, tableNumber);
  at.setKey(start);
  std::uint32_t highest = 0;
  for (const store::QbxEntry* e = store::next(s, at.entry()); ofTable(e, tableNumber);
       e = store::next(s, at.entry())) {
    if (const auto f = numberField(*e)) highest = std::max(highest, loadNumber(*e, *f));
    at.setKey(e->key());
  }
  return highest;
}

// Copies every entry of table `from` of the source into the target as an
// entry of table `to`, adding offset to its record numbers; with move the
// source entries are deleted as they are copied. The copies come in key
// order, so they are inserted through one cursor at the end of the run.
void transferEntries(store::QbxStore& source, std::uint32_t from, store::QbxStore& target,
                     std::uint32_t to, std::uint32_t offset, bool move) {
  EntryBuffer at;
  std::array<std::uint8_t, kTableNumberSize> start{};
  platform::storeBe32(start, 0, from);
  at.setKey(start);
  store::QbxCursor out(target);
  for (;;) {
    store::QbxEntry* e = store::next(source, at.entry());
    if (!ofTable(e, from)) return;
    store::EntryPtr copy = store::copyEntry(*e);
    at.setKey(e->key());
    if (move) store::deleteEntry(source, e);
    platform::storeBe32(copy->all(), 0, to);
    if (const auto f = numberField(*copy)) {
      const std::uint32_t n = loadNumber(*copy, *f);
      if (f->bigEndian || n != 0) storeNumber(*copy, *f, n + offset);
    }
    out.insert(std::move(copy));
  }
}

// Ends an operation on a store that the caller's table does not hold open:
// back to reader mode, which ends the access.
void settle(store::QbxStore& s) { s.enterReaderMode(); }

}  // namespace

int removeTable(QbxTableDef& def, const std::string& fullFileName, std::string_view tableName) {
  TableOpenOptions options;
  options.dropName = true;
  options.ignoreLayout = true;
  std::unique_ptr<QbxTable> table;
  if (const int error =
          QbxTable::open(def, fullFileName, tableName, kTransferMode, options, &table);
      error != 0) {
    return error;
  }
  store::QbxStore& s = table->store();
  // The file goes with its last table, unless another table of this process
  // still uses it.
  if (!anyTableName(s) && table->storeUse().users() == 1) return s.deleteFile();
  dropTableEntries(s, table->tableNumber());
  const int result = s.commit();
  if (result == 0) s.truncate();
  settle(s);
  return result;
}

int copyTable(QbxTableDef& def, const std::string& sourceFile, std::string_view sourceTable,
              const std::string& targetFile, std::string_view targetTable, bool rename) {
  if (targetTable.empty() || targetTable.size() > kMaxTableNameLength) return kErrInvalidFilename;
  StoreUse targetUse;
  if (const int error =
          acquireStore(targetFile, kTransferTargetMode, def.owner.value_or(""), &targetUse);
      error != 0) {
    return error;
  }
  std::unique_ptr<QbxTable> source;
  if (const int error = QbxTable::open(def, sourceFile, sourceTable, kTransferMode, {}, &source);
      error != 0) {
    return error;
  }
  store::QbxStore& src = source->store();
  store::QbxStore& dst = *targetUse;
  const bool sameFile = &src == &dst;
  const std::uint32_t from = source->tableNumber();

  // Everything that refuses the operation is found before anything changes.
  dst.enterWriterMode();
  if (rename) src.enterWriterMode();
  const std::optional<std::uint32_t> existing = findTableNumber(dst, targetTable);
  if (existing && sameFile && *existing == from) {
    // Onto itself: a COPY has nothing to do; a RENAME names an existing table.
    settle(dst);
    return rename ? kErrAccessDenied : kOk;
  }
  if (existing && rename) {
    settle(dst);
    settle(src);
    return kErrAccessDenied;
  }
  if (rename && sameFile) {
    // The table keeps its number and its entries; only its name changes.
    static_cast<void>(deleteTableName(dst, sourceTable));
    writeTableName(dst, targetTable, from);
    const int result = dst.commit();
    settle(dst);
    return result;
  }
  const std::uint32_t highest = highestNumber(src, from);
  const std::uint32_t counter = numberCounter(dst);
  // The table number and the offset are the next two numbers; every number
  // of the copy must stay at or below the largest number a file may hold.
  if (counter > kLargestNumber - 2 ||
      std::uint64_t{highest} + counter + 2 > std::uint64_t{kLargestNumber}) {
    settle(dst);
    if (rename) settle(src);
    return kErrAccessDenied;
  }

  if (existing) {
    static_cast<void>(deleteTableName(dst, targetTable));
    dropTableEntries(dst, *existing);
  }
  // A moved table leaves its name behind; its sort table record travels
  // with its other entries, so the target keeps the collation its keys
  // were formed with.
  if (rename) static_cast<void>(deleteTableName(src, sourceTable));
  const std::uint32_t to = drawNumber(dst);
  const std::uint32_t offset = drawNumber(dst);
  transferEntries(src, from, dst, to, offset, rename);
  if (highest != 0) setNumberCounter(dst, std::max(numberCounter(dst), highest + offset));
  writeTableName(dst, targetTable, to);

  if (const int error = dst.commit(); error != 0) {
    if (rename) src.abandon();
    settle(dst);
    if (rename) settle(src);
    return error;
  }
  settle(dst);
  int result = kOk;
  if (rename) {
    result = src.commit();
    settle(src);
  }
  return result;
}

}  // namespace qbx::records
