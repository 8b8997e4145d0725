// A status record and the cursor that an open table keeps on it, so that its
// counters are read and changed without a search. The table's own status
// record counts its records (counter 1) and holds the value of the FLAGS
// driver string (counter 2); a key's counts its entries (counter 1) and holds
// the out-of-date mark (counter 2): 0 when the key is complete, else the
// lowest record number from which entries may be missing or stale.
#pragma once

#include <cstdint>
#include <optional>

#include "qbx/store/cursor.h"

namespace qbx::store {
class QbxStore;
}

namespace qbx::records {

struct StatusCounters {
  std::uint32_t counter1 = 0;
  std::uint32_t counter2 = 0;
};

class StatusRecord {
 public:
  // selector: kStatusTableSelector for the table, else the key number.
  StatusRecord(store::QbxStore& store, std::uint32_t tableNumber, std::uint8_t selector);

  // Inserts a fresh record with both counters 0 (replacing one there is) and
  // stands on it. Writer mode.
  void reset();
  // Stands on the record without changing it.
  void attach();

  // The counters; none when the record is missing (or is not 8 bytes of data).
  std::optional<StatusCounters> read();
  // Counter 1, 0 when the record is missing.
  std::uint32_t counter1();
  // Counter 2 (a key's out-of-date mark), 0 when the record is missing.
  std::uint32_t counter2();

  // With lower, the mark becomes n when it is 0 or above n; n = 0 only reads.
  // Without lower, the mark is set to n. A missing record is created first.
  // Returns the resulting mark. Writer mode unless it only reads.
  std::uint32_t markOutOfDate(std::uint32_t n, bool lower);
  // Adds delta to counter 1 (add) or sets it to delta; the counter stays
  // within 0 and 0xFFFFFFFF. The new counter, or none (nothing changed) when
  // the record is missing.
  std::optional<std::uint32_t> addToCounter(std::int64_t delta, bool add);
  // Sets counter 2, creating a missing record.
  void setCounter2(std::uint32_t value);

  std::uint32_t tableNumber() const { return tableNumber_; }
  std::uint8_t selector() const { return selector_; }

 private:
  // The record's entry with 8 data bytes, or none.
  store::QbxEntry* entry();
  // The record's entry, created (or recreated when damaged) when missing.
  store::QbxEntry* ensure();

  store::QbxStore* store_;
  store::QbxCursor cursor_;
  std::uint32_t tableNumber_;
  std::uint8_t selector_;
};

}  // namespace qbx::records
