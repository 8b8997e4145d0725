// The queries on an open table: POINTER, POSITION, RECORDS, BYTES,
// DUPLICATE and QUERY_KEY. They change nothing.
#include <cstdint>
#include <limits>

#include "handlers.h"

namespace qbx::driver {
namespace {

records::QbxTable& tableOf(DriverCall& call) { return *call.file.table; }

// A count as the 32-bit numeric result: the program reads it as an
// unsigned number.
std::int32_t countResult(std::uint32_t count) { return static_cast<std::int32_t>(count); }

// The record that DUPLICATE leaves out: the current one, or none.
std::uint32_t currentOrNone(DriverCall& call) {
  return (call.file.state & flag::hasRecord) != 0 ? tableOf(call).currentRecord() : 0;
}

}  // namespace

int handlePointer(DriverCall& call) {
  call.numeric = countResult(tableOf(call).currentRecord());
  return 0;
}

int handlePositionFile(DriverCall& call) {
  tableOf(call).position(nullptr, call.file.position);
  call.text = call.file.position;
  return 0;
}

int handlePositionKey(DriverCall& call) {
  tableOf(call).position(call.key, call.file.position);
  call.text = call.file.position;
  return 0;
}

int handleRecordsFile(DriverCall& call) {
  call.numeric = countResult(tableOf(call).recordCount());
  return 0;
}

int handleRecordsKey(DriverCall& call) {
  call.numeric = countResult(tableOf(call).keyEntryCount(*call.key));
  return 0;
}

// The record length with a current record, else the table's size in bytes:
// counted in 64 bits and held at the largest result the word can carry.
int handleBytes(DriverCall& call) {
  const std::uint64_t length = call.file.def->recordLength;
  const std::uint64_t bytes = (call.file.state & flag::hasRecord) != 0
                                  ? length
                                  : std::uint64_t{tableOf(call).recordCount()} * length;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  call.numeric = static_cast<std::int32_t>(bytes < kMax ? bytes : kMax);
  return 0;
}

int handleDuplicate(DriverCall& call) {
  call.numeric = tableOf(call).anyDuplicate(currentOrNone(call)) ? 1 : 0;
  return 0;
}

int handleDuplicateKey(DriverCall& call) {
  call.numeric = tableOf(call).isDuplicate(*call.key, currentOrNone(call)) ? 1 : 0;
  return 0;
}

int handleQueryKey(DriverCall& call) {
  const records::QbxKeyDef* key = call.file.currentKey;
  call.numeric = key != nullptr ? key->keyNumber + 1 : 0;
  return 0;
}

}  // namespace qbx::driver
