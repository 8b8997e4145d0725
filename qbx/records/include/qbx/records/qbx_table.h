// QbxTable: one table open in its physical file's shared store. It holds the
// table's keys, the cursors on its status record and for adds at its end,
// the current record with its last-read and scratch images, the reading
// position, and the request and status flags of the record operations.
// Every operation of the record engine works on an open QbxTable:
//   open, create, REMOVE, COPY and RENAME     table_transfer.h, below
//   ADD, APPEND, fetch, PUT, DELETE           add, get..., replace, remove
//   SET family, NEXT, PREVIOUS, SKIP, EOF/BOF set..., step, skip
//   POSITION, RECORDS, DUPLICATE, EMPTY       position, recordCount, ...
// The store's internal errors are not caught here: they leave the operation
// as exceptions, and the table may then only be destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qbx/records/collation.h"
#include "qbx/records/entry_buffer.h"
#include "qbx/records/memo_hooks.h"
#include "qbx/records/position.h"
#include "qbx/records/shared_stores.h"
#include "qbx/records/status_record.h"
#include "qbx/records/table_def.h"
#include "qbx/records/table_keys.h"
#include "qbx/store/cursor.h"

namespace qbx::records {

// Request and status flags of the record operations (the driver's
// engineFlags bits). Requests are set before a fetch and cleared by every
// step and fetch, except by the end tests and by a result of 43.
inline constexpr std::uint16_t kHoldRequested = 0x0002;
inline constexpr std::uint16_t kHeld = 0x0004;  // the current record is locked by this table
inline constexpr std::uint16_t kWatchRequested = 0x0008;
inline constexpr std::uint16_t kWatching = 0x0010;  // PUT compares with the last-read image
inline constexpr std::uint16_t kNoMemoRequested = 0x0020;
inline constexpr std::uint16_t kMemosNotLoaded = 0x0040;
inline constexpr std::uint16_t kRequestFlags = kHoldRequested | kWatchRequested | kNoMemoRequested;

struct TableOpenOptions {
  // Make a new table, replacing one of the same name (its records, keys and
  // number go); the definition, status records and collation are written.
  bool create = false;
  // Delete the table name record and the sort table record after reading
  // them (REMOVE, and the source of a RENAME).
  bool dropName = false;
  // A stored definition of another layout is no error (REMOVE).
  bool ignoreLayout = false;
};

class QbxTable {
 public:
  // Opens the table `tableName` (upper case; "UNNAMED" for a file name
  // without a table part) of the physical file `fullFileName`, taking a use
  // of its shared store (opened with modeFlags and the definition's owner
  // text when the process has not got it open). Create and drop name enter
  // writer mode. Without create: 2 when the file has no such table; a
  // declaration with a record buffer and a record length has its stored
  // definition compared (47 when the layout differs), one without has the
  // stored definition read (and the table then reads records into a buffer
  // of its own, of the stored record length). The table's sort table record
  // sets its collation and OEM attribute. 0 with *out set, or the error.
  [[nodiscard]] static int open(QbxTableDef& def, const std::string& fullFileName,
                                std::string_view tableName, unsigned modeFlags,
                                const TableOpenOptions& options, std::unique_ptr<QbxTable>* out);

  // Releases a hold, the cursors and the private stores, and the use of the
  // shared store (the last use closes it). Nothing is committed here beyond
  // what the store's close does; commit first.
  ~QbxTable();
  QbxTable(const QbxTable&) = delete;
  QbxTable& operator=(const QbxTable&) = delete;

  QbxTableDef& def() { return def_; }
  store::QbxStore& store() { return *use_; }
  const StoreUse& storeUse() const { return use_; }
  std::uint32_t tableNumber() const { return def_.tableNumber; }
  const std::string& tableName() const { return tableName_; }
  TableKeys& keys() { return *keys_; }
  // The sort table record the table was opened with (or created), if any.
  const std::optional<SortTableRecord>& sortTable() const { return sortTable_; }
  void setMemoHooks(MemoHooks* hooks) { memos_ = hooks; }

  // --- Records ------------------------------------------------------------
  // ADD (deferKeys false) and APPEND (true): adds the record buffer as a new
  // record with the next number of the file. 0; 40 (the number stays used);
  // 5 when the table's status record has vanished (the table was removed
  // meanwhile), after which every entry of its number is deleted.
  [[nodiscard]] int add(bool deferKeys);
  // PUT: replaces the current record with the record buffer. 33 no current
  // record or it has gone; 5 it cannot be locked; 89 under WATCH when the
  // stored record (or its memos) changed since the fetch; 40.
  [[nodiscard]] int replace();
  // PUTfileptr: releases a hold, makes n the current record and replaces it.
  [[nodiscard]] int replace(std::uint32_t recordNumber);
  // DELETE: removes the current record and its key entries. 33 no current
  // record, it has gone, or it cannot be locked.
  [[nodiscard]] int remove();

  // Fetches for the program (GET and REGET): the record becomes current and
  // is copied into the record buffer; memos are loaded unless NOMEMO was
  // requested. 35 when there is no such record, 43 when HOLD was requested
  // and the record is locked elsewhere (the requests then stay). A failed
  // fetch leaves the record buffer as it was.
  [[nodiscard]] int getByNumber(std::uint32_t recordNumber);
  // GET by key: the key's value in the record buffer; DUP: the lowest number.
  [[nodiscard]] int getByKey(const QbxKeyDef& key);
  // REGET(key, position text).
  [[nodiscard]] int getByPosition(const QbxKeyDef& key, std::span<const std::uint8_t> position);

  // The current record's number (0: none). APPEND makes its record current.
  std::uint32_t currentRecord() const { return current_; }
  // RECORDS: counter 1 of the table's status record.
  std::uint32_t recordCount();
  // RECORDS(key).
  std::uint32_t keyEntryCount(const QbxKeyDef& key) { return keys_->entryCount(key); }
  // DUPLICATE(key): whether another record than `exclude` holds the record
  // buffer's value in a unique key (DUP keys and OPT blanks never do).
  bool isDuplicate(const QbxKeyDef& key, std::uint32_t exclude);
  // DUPLICATE: the same test over every key in order.
  bool anyDuplicate(std::uint32_t exclude);

  // POSITION: the 4-byte record number of the current record, most
  // significant byte first, followed for a key by the key's value formed
  // from the last-read image.
  void position(const QbxKeyDef* key, std::string& out) const;

  // --- Reading position ---------------------------------------------------------
  void setFile();                                                       // state 2
  void setFileByKey(const QbxKeyDef& key);                              // state 4
  void setFileRecord(std::uint32_t recordNumber);                       // state 3 (0: as setFile)
  void setKey(const QbxKeyDef& key);                                    // state 5
  void setKeyValue(const QbxKeyDef& key);                               // state 7
  void setKeyRecord(const QbxKeyDef& key, std::uint32_t recordNumber);  // state 8 (0: state 5)
  void setKeyValueRecord(const QbxKeyDef& key, std::uint32_t recordNumber);  // state 6
  // RESET(file, position): state 3 at the text's record number.
  void resetFile(std::span<const std::uint8_t> position);
  // RESET(key, position): state 6 at the text's key value and record number.
  void resetKey(const QbxKeyDef& key, std::span<const std::uint8_t> position);

  // One step from the position. Fetch: 0, 33 at the end (the position
  // stays), 43 (requests kept), or a fetch error; key entries whose record
  // has gone are passed over. Test: 1 when there is nowhere to go, else 0;
  // nothing changes. Move: 0 or 33, without reading.
  [[nodiscard]] int step(StepMode mode, Direction direction);
  // SKIP(n): n steps forward (n < 0: -n backward) without reading; ends
  // quietly at the first step that finds nothing.
  void skip(std::int32_t n);
  PositionState positionState() const { return state_; }
  const QbxKeyDef* positionKey() const { return positionKey_; }

  // --- Flags ----------------------------------------------------------------------
  std::uint16_t flags() const { return flags_; }
  // HOLD, WATCH, NOMEMO for the next read (kHoldRequested, ...).
  void request(std::uint16_t requests) {
    flags_ |= static_cast<std::uint16_t>(requests & kRequestFlags);
  }
  void clearRequests() { flags_ &= static_cast<std::uint16_t>(~kRequestFlags); }
  // RELEASE: unlocks the current record when it is held.
  void releaseHold();
  // Forgets the current record (releasing its hold and the watch).
  void forgetCurrent();

  // --- Table ------------------------------------------------------------------------
  // EMPTY: every entry of the table goes (dynamic indexes too); the
  // definition, the status records and the sort table record are written
  // again. The table keeps its number.
  [[nodiscard]] int empty();
  // Saves the collation anew (a BUILD of the file with FULLBUILD on): the
  // table's block becomes the runtime's current settings and its sort table
  // record is written again. Writer mode.
  void saveCollation();

  // The last-read image (record length bytes).
  std::span<const std::uint8_t> lastRead() const { return lastRead_; }
  std::span<std::uint8_t> recordBuffer() { return {def_.recordBuffer, def_.recordLength}; }

 private:
  QbxTable(QbxTableDef& def, StoreUse use, std::string tableName);

  [[nodiscard]] int openInStore(const TableOpenOptions& options);
  [[nodiscard]] int createInStore(std::optional<std::uint32_t> oldNumber);
  void makeOpenState();
  void writeSortTable();

  // Fetches the record that a data record or key entry names (none: 35).
  [[nodiscard]] int fetch(const store::QbxEntry* entry);
  // A fetch for the program: memos and requests afterwards.
  [[nodiscard]] int fetchForProgram(const store::QbxEntry* entry);
  // Loads the memos after a fetch (unless NOMEMO) and clears the requests;
  // the fetch's result, or the load's error.
  [[nodiscard]] int afterProgramFetch(int result);
  // PUT once the record is locked: steps from the stored image on.
  [[nodiscard]] int replaceLocked(std::uint32_t n);
  // The data record of number n, or none. Valid until the next tree call.
  store::QbxEntry* findRecord(std::uint32_t n);
  // Copies a stored image into out (record length bytes, from OEM).
  void loadImage(const store::QbxEntry& record, std::span<std::uint8_t> out) const;
  // The data record entry for the record buffer, converted to OEM.
  store::EntryPtr recordEntry(std::uint32_t n) const;

  // Steps (steps.cpp).
  struct Candidate {
    const store::QbxEntry* entry = nullptr;
    bool keyEntry = false;  // a key entry, else a data record
  };
  Candidate findCandidate(Direction direction);
  const store::QbxEntry* nextRecord(std::span<const std::uint8_t> key, Direction direction);
  const store::QbxEntry* endRecord(Direction direction);
  // Copies what moving to the candidate needs, before a fetch walks the tree.
  void keepCandidate(const Candidate& p);
  // Moves the position to the kept candidate; from: the state stepped from.
  void moveToCandidate(PositionState from);
  bool isDataRecord(const store::QbxEntry* entry) const;

  // Members are destroyed in reverse order: the store use last, after every
  // cursor on its pages.
  StoreUse use_;
  QbxTableDef& def_;
  std::string tableName_;
  std::vector<std::uint8_t> ownBuffer_;  // record buffer of a definition read from the file
  std::uint8_t* declaredBuffer_;         // the program's buffer, given back at the end
  std::unique_ptr<TableKeys> keys_;
  std::unique_ptr<StatusRecord> status_;
  std::unique_ptr<store::QbxCursor> insertCursor_;
  std::optional<SortTableRecord> sortTable_;
  MemoHooks* memos_ = nullptr;

  std::uint32_t current_ = 0;
  std::uint16_t flags_ = 0;
  std::vector<std::uint8_t> lastRead_;
  std::vector<std::uint8_t> scratch_;

  PositionState state_ = PositionState::kNone;
  const QbxKeyDef* positionKey_ = nullptr;  // the key of key order (states 1, 4 to 8)
  EntryBuffer position_;                    // the position key
  std::uint32_t positionRecord_ = 0;        // states 3 and 8: the record number
  EntryBuffer candidate_;                   // the entry a step found (a copy)
  std::uint32_t candidateNumber_ = 0;
  bool candidateIsKey_ = false;
  EntryBuffer search_;
};

}  // namespace qbx::records
