// Opening and creating a table in its file's shared store, its sort table
// record, EMPTY, and the table's flags and current record.
#include "qbx/records/qbx_table.h"

#include <algorithm>

#include "qbx/records/definition_chunks.h"
#include "qbx/records/definition_stream.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/table_names.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {

QbxTable::QbxTable(QbxTableDef& def, StoreUse use, std::string tableName)
    : use_(std::move(use)),
      def_(def),
      tableName_(std::move(tableName)),
      declaredBuffer_(def.recordBuffer) {}

QbxTable::~QbxTable() {
  releaseHold();
  // The definition must not keep pointing at a buffer that goes with the table.
  if (!ownBuffer_.empty() && def_.recordBuffer == ownBuffer_.data())
    def_.recordBuffer = declaredBuffer_;
}

int QbxTable::open(QbxTableDef& def, const std::string& fullFileName, std::string_view tableName,
                   unsigned modeFlags, const TableOpenOptions& options,
                   std::unique_ptr<QbxTable>* out) {
  out->reset();
  // A name record holds the name after one byte; the table part of a file
  // name is never longer than the full name may be.
  if (tableName.empty() || tableName.size() > kMaxTableNameLength) return kErrInvalidFilename;
  StoreUse use;
  if (const int error = acquireStore(fullFileName, modeFlags, def.owner.value_or(""), &use);
      error != 0) {
    return error;
  }
  std::unique_ptr<QbxTable> table(new QbxTable(def, std::move(use), std::string(tableName)));
  if (const int error = table->openInStore(options); error != 0) return error;
  *out = std::move(table);
  return kOk;
}

int QbxTable::openInStore(const TableOpenOptions& options) {
  store::QbxStore& s = *use_;
  if (options.create || options.dropName) s.enterWriterMode();
  const std::optional<std::uint32_t> number = findTableNumber(s, tableName_);
  if (options.create) return createInStore(number);
  if (!number) return kErrFileNotFound;

  // Everything that can refuse the open is checked before anything changes.
  def_.tableNumber = *number;
  StoreDefinitionChunks chunks(s, *number);
  if (def_.recordBuffer != nullptr && def_.recordLength > 0) {
    if (compareDefinition(def_, chunks) == DefinitionMatch::kLayoutDiffers &&
        !options.ignoreLayout) {
      return kErrInvalidRecordDeclaration;
    }
  } else if (const int error = readDefinition(def_, chunks); error != 0) {
    if (!options.ignoreLayout) return error;
  } else {
    // The program's buffer is only as long as it declared it (nothing, or
    // no buffer at all): records of the stored length go into one of the
    // table's own.
    ownBuffer_.assign(def_.recordLength, 0);
    def_.recordBuffer = ownBuffer_.data();
  }

  const auto sortKey = store::makeEntry(sortTableKey(*number));
  if (const store::QbxEntry* e = store::find(s, *sortKey); e != nullptr) {
    sortTable_ = decodeSortTableData(e->data());
  }
  if (sortTable_) {
    def_.collation = CollationTables(sortTable_->block);
    def_.attributes = static_cast<std::uint8_t>(sortTable_->oem ? (def_.attributes | kTableOem)
                                                                : (def_.attributes & ~kTableOem));
  }
  if (options.dropName) {
    static_cast<void>(deleteTableName(s, tableName_));
    if (store::QbxEntry* e = store::find(s, *sortKey); e != nullptr) store::deleteEntry(s, e);
  }
  makeOpenState();
  status_->attach();
  keys_->attachAll();
  return kOk;
}

int QbxTable::createInStore(std::optional<std::uint32_t> oldNumber) {
  store::QbxStore& s = *use_;
  // The old table of this name goes with all its entries; the new one gets
  // a number never used in the file.
  if (oldNumber) dropTableEntries(s, *oldNumber);
  const std::uint32_t number = drawNumber(s);
  writeTableName(s, tableName_, number);
  def_.tableNumber = number;
  StoreDefinitionChunks chunks(s, number);
  if (const int error = writeDefinition(def_, chunks); error != 0) return error;
  makeOpenState();
  status_->reset();
  keys_->resetAll();
  // The table keeps the collation it was created with.
  sortTable_ = SortTableRecord{runtimeCollation().block(), def_.isOem()};
  def_.collation = CollationTables(sortTable_->block);
  writeSortTable();
  return kOk;
}

void QbxTable::makeOpenState() {
  store::QbxStore& s = *use_;
  keys_ = std::make_unique<TableKeys>(def_, s);
  status_ = std::make_unique<StatusRecord>(s, def_.tableNumber, kStatusTableSelector);
  insertCursor_ = std::make_unique<store::QbxCursor>(s);
  lastRead_.assign(def_.recordLength, 0);
  scratch_.assign(def_.recordLength, 0);
}

void QbxTable::writeSortTable() {
  store::QbxStore& s = *use_;
  const auto key = sortTableKey(def_.tableNumber);
  if (store::QbxEntry* old = store::find(s, *store::makeEntry(key)); old != nullptr) {
    store::deleteEntry(s, old);
  }
  std::array<std::uint8_t, kSortTableDataSize> data{};
  encodeSortTableData(*sortTable_, data);
  store::insert(s, store::makeEntry(key, data));
}

int QbxTable::empty() {
  store::QbxStore& s = *use_;
  s.enterWriterMode();
  forgetCurrent();
  dropTableEntries(s, def_.tableNumber);
  keys_->resetAllDynamic();
  StoreDefinitionChunks chunks(s, def_.tableNumber);
  if (const int error = writeDefinition(def_, chunks); error != 0) return error;
  status_->reset();
  keys_->resetAll();
  // The keys are formed again under the collation the table has kept.
  if (sortTable_) writeSortTable();
  return kOk;
}

void QbxTable::saveCollation() {
  sortTable_ = SortTableRecord{runtimeCollation().block(), def_.isOem()};
  def_.collation = CollationTables(sortTable_->block);
  writeSortTable();
}

std::uint32_t QbxTable::recordCount() { return status_->counter1(); }

void QbxTable::releaseHold() {
  if ((flags_ & kHeld) == 0) return;
  flags_ &= static_cast<std::uint16_t>(~kHeld);
  if (current_ != 0) use_->diskFile().unlockRecord(current_);
}

void QbxTable::forgetCurrent() {
  releaseHold();
  flags_ &= static_cast<std::uint16_t>(~(kWatching | kMemosNotLoaded));
  current_ = 0;
}

}  // namespace qbx::records
