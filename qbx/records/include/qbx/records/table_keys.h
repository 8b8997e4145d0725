// The keys of one open table: where each key's entries live (the file's
// store, or for a dynamic index a private store with no file behind it), the
// cursor on each key's status record, key upkeep on every add, replace and
// delete, and the searches by key value and by position.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "qbx/records/entry_buffer.h"
#include "qbx/records/status_record.h"
#include "qbx/records/table_def.h"

namespace qbx::store {
class QbxStore;
struct QbxEntry;
}  // namespace qbx::store

namespace qbx::records {

class TableKeys {
 public:
  // The keys of the table's definition (its table number set), with the
  // file's store for KEYs and INDEXes and a fresh private store for every
  // dynamic index. Status cursors stand nowhere until reset or attached.
  TableKeys(QbxTableDef& table, store::QbxStore& fileStore);
  ~TableKeys();
  TableKeys(const TableKeys&) = delete;
  TableKeys& operator=(const TableKeys&) = delete;

  std::size_t count() const { return keys_.size(); }
  // Whether the key is one of this table's keys (by address).
  bool owns(const QbxKeyDef& key) const;

  // Fresh status records (both counters 0) for every key: CREATE and EMPTY.
  void resetAll();
  // Attaches the cursors to the stored status records of the KEYs and
  // INDEXes; a dynamic index starts empty and complete: OPEN.
  void attachAll();
  // Throws away a dynamic index's entries: a fresh private store with a
  // fresh status record.
  void resetDynamic(const QbxKeyDef& key);
  void resetAllDynamic();

  // The store that holds the key's entries, and the key's status record;
  // none for a key that is not this table's. Every other call finds nothing
  // for such a key.
  store::QbxStore* storeOf(const QbxKeyDef& key);
  StatusRecord* statusOf(const QbxKeyDef& key);

  // Key upkeep for record n: newImage is the record after the change (empty:
  // none, a DELETE), oldImage before it (empty: none, an ADD or APPEND).
  // Keys are changed in declaration order. A dynamic index is passed over;
  // an INDEX, and every key when defer is set (APPEND), only has its
  // out-of-date mark lowered to n, unless it is already at or below n; a KEY
  // gets its entries changed and counter 1 follows (lowered only when an
  // entry was really deleted). A new value that a unique KEY already holds
  // for another record undoes every change made so far by this call (entries,
  // counters and marks exactly as before) and gives 40.
  [[nodiscard]] int maintain(std::span<const std::uint8_t> newImage,
                             std::span<const std::uint8_t> oldImage, std::uint32_t n, bool defer);

  // GET by key: the entry whose key value is the image's; for a DUP key the
  // one with the lowest record number among equal values. None when absent.
  // The entry stays the tree's and is valid until the next tree operation.
  const store::QbxEntry* findByValue(const QbxKeyDef& key, std::span<const std::uint8_t> image);
  // GET(key, position): the 4-byte record number then the key value. A text
  // shorter than that is padded with zero bytes (and then finds nothing).
  const store::QbxEntry* findByPosition(const QbxKeyDef& key,
                                        std::span<const std::uint8_t> position);
  // DUPLICATE: 1 when a record other than `exclude` (0: none excluded) holds
  // the image's value in the key; a DUP key, and an image blank for the OPT
  // key, never duplicate (0).
  int duplicate(const QbxKeyDef& key, std::span<const std::uint8_t> image, std::uint32_t exclude);

  // Enumeration in key order; entries of other keys or tables are none.
  const store::QbxEntry* first(const QbxKeyDef& key);
  const store::QbxEntry* last(const QbxKeyDef& key);
  // The nearest entry of the key strictly after (before) the given key bytes.
  const store::QbxEntry* after(const QbxKeyDef& key, std::span<const std::uint8_t> entryKey);
  const store::QbxEntry* before(const QbxKeyDef& key, std::span<const std::uint8_t> entryKey);
  // The entry whose key part equals the given one, of this key, or none.
  const store::QbxEntry* equal(const QbxKeyDef& key, std::span<const std::uint8_t> entryKey);

  // RECORDS(key): counter 1 of the key's status record.
  std::uint32_t entryCount(const QbxKeyDef& key);

  // Forms the key entry (key part and data part) of an image for record n
  // into buf.
  void formEntry(const QbxKeyDef& key, std::span<const std::uint8_t> image, std::uint32_t n,
                 EntryBuffer& buf) const;
  // Whether an entry of the store belongs to the key (table number and kind).
  bool belongs(const QbxKeyDef& key, const store::QbxEntry* entry) const;

 private:
  struct Key {
    QbxKeyDef* def = nullptr;
    store::QbxStore* store = nullptr;
    std::unique_ptr<store::QbxStore> privateStore;  // a dynamic index's
    std::unique_ptr<StatusRecord> status;
  };
  // What maintain did to one key, so that a 40 can take it back.
  struct Change {
    bool inserted = false;
    bool deleted = false;
    bool marked = false;
    bool counted = false;
    std::uint32_t oldMark = 0;
    std::uint32_t oldCount = 0;
  };

  Key* keyOf(const QbxKeyDef& key);
  void openPrivateStore(Key& k);
  void undo(std::size_t upTo, std::span<const std::uint8_t> newImage,
            std::span<const std::uint8_t> oldImage, std::uint32_t n);

  QbxTableDef& table_;
  store::QbxStore& fileStore_;
  std::vector<Key> keys_;
  std::vector<Change> changes_;
  EntryBuffer newEntry_;
  EntryBuffer oldEntry_;
  EntryBuffer search_;
};

}  // namespace qbx::records
