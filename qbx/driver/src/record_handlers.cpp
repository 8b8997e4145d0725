// Record access: the SET and RESET family, NEXT, PREVIOUS, SKIP, BOF, EOF,
// the GET and REGET family, ADD, APPEND, PUT, PUTfileptr, DELETE, EMPTY, and
// the one-shot requests HOLD, WATCH and NOMEMO with RELEASE. Each is a thin
// layer over the open table; the operation rules have already made sure the
// table is open and, where it matters, sequenced, current and writable.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "handlers.h"
#include "platform/clock.h"
#include "platform/endian.h"
#include "qbx/driver/result_codes.h"
#include "qbx/records/format.h"

namespace qbx::driver {
namespace {

using records::Direction;
using records::StepMode;

constexpr std::int64_t kHundredthsPerSecond = 100;
// Pause between two attempts on a record another program holds, so that a
// wait does not keep a processor busy.
constexpr unsigned kHeldRecordPauseMillis = 1;

records::QbxTable& tableOf(DriverCall& call) { return *call.file.table; }

// A record number argument: the program's unsigned number in the word's low
// 32 bits.
std::uint32_t recordNumberWord(std::intptr_t word) { return static_cast<std::uint32_t>(word); }

// The first `length` bytes of a position text; a shorter text is padded with
// zero bytes, so that nothing is ever read beyond it.
std::vector<std::uint8_t> positionBytes(const std::string& text, std::size_t length) {
  std::vector<std::uint8_t> bytes(length, 0);
  std::copy_n(text.begin(), std::min(length, text.size()), bytes.begin());
  return bytes;
}

std::size_t keyPositionLength(const records::QbxKeyDef& key) {
  return records::kRecordNumberSize + key.valueLength;
}

// Runs a fetch until it gives anything but 43 "Record Is Already Held", or
// until the hold's time is up. A hold without limit waits until the record
// is free. The seconds are taken in 64 bits, so that no timeout overflows.
template <typename Attempt>
int fetchWaiting(QbxFile& file, Attempt&& attempt) {
  records::QbxTable& table = *file.table;
  const bool limited = file.holdTimeout != kHoldWithoutLimit;
  if ((table.flags() & records::kHoldRequested) != 0 && limited) {
    file.holdStart = platform::tickCount();
  }
  const std::int64_t limit = std::int64_t{file.holdTimeout} * kHundredthsPerSecond;
  for (;;) {
    const int result = attempt();
    if (result != kErrRecordIsAlreadyHeld) return result;
    if (limited && platform::tickCount() - file.holdStart >= limit) {
      table.clearRequests();
      return kErrRecordIsAlreadyHeld;
    }
    platform::sleepMillis(kHeldRecordPauseMillis);
  }
}

int stepFetching(DriverCall& call, Direction direction) {
  records::QbxTable& table = tableOf(call);
  return fetchWaiting(call.file, [&] { return table.step(StepMode::kFetch, direction); });
}

int getByNumber(DriverCall& call, std::uint32_t recordNumber) {
  records::QbxTable& table = tableOf(call);
  return fetchWaiting(call.file, [&] { return table.getByNumber(recordNumber); });
}

}  // namespace

// ---- SET and RESET ----------------------------------------------------------

int handleSetFile(DriverCall& call) {
  call.file.currentKey = nullptr;
  tableOf(call).setFile();
  return 0;
}

int handleSetFileKey(DriverCall& call) {
  call.file.currentKey = nullptr;
  tableOf(call).setFileByKey(*call.key);
  return 0;
}

int handleSetFilePtr(DriverCall& call) {
  call.file.currentKey = nullptr;
  const std::intptr_t n = call.word(0);
  if (n < 1) {
    tableOf(call).setFile();
  } else {
    tableOf(call).setFileRecord(recordNumberWord(n));
  }
  return 0;
}

int handleSetKey(DriverCall& call) {
  call.file.currentKey = call.key;
  tableOf(call).setKey(*call.key);
  return 0;
}

int handleSetKeyKey(DriverCall& call) {
  call.file.currentKey = call.key;
  tableOf(call).setKeyValue(*call.key);
  return 0;
}

int handleSetKeyPtr(DriverCall& call) {
  call.file.currentKey = call.key;
  const std::intptr_t n = call.word(0);
  if (n < 1) {
    tableOf(call).setKey(*call.key);
  } else {
    tableOf(call).setKeyRecord(*call.key, recordNumberWord(n));
  }
  return 0;
}

int handleSetKeyKeyPtr(DriverCall& call) {
  call.file.currentKey = call.key;
  tableOf(call).setKeyValueRecord(*call.key, recordNumberWord(call.word(0)));
  return 0;
}

int handleResetFile(DriverCall& call) {
  call.file.currentKey = nullptr;
  tableOf(call).resetFile(positionBytes(call.a(), records::kRecordNumberSize));
  return 0;
}

int handleResetKey(DriverCall& call) {
  call.file.currentKey = call.key;
  tableOf(call).resetKey(*call.key, positionBytes(call.a(), keyPositionLength(*call.key)));
  return 0;
}

// ---- Reading ------------------------------------------------------------------

int handleNext(DriverCall& call) { return stepFetching(call, Direction::kForward); }
int handlePrevious(DriverCall& call) { return stepFetching(call, Direction::kBackward); }

int handleSkip(DriverCall& call) {
  tableOf(call).skip(static_cast<std::int32_t>(call.word(0)));
  return 0;
}

int handleBof(DriverCall& call) {
  call.numeric = tableOf(call).step(StepMode::kTest, Direction::kBackward);
  return 0;
}

int handleEof(DriverCall& call) {
  call.numeric = tableOf(call).step(StepMode::kTest, Direction::kForward);
  return 0;
}

int handleGetFileKey(DriverCall& call) {
  records::QbxTable& table = tableOf(call);
  const records::QbxKeyDef& key = *call.key;
  return fetchWaiting(call.file, [&] { return table.getByKey(key); });
}

int handleGetFilePtr(DriverCall& call) { return getByNumber(call, recordNumberWord(call.word(0))); }

// GETkeyptr reads by record number; its key argument is not used.
int handleGetKeyPtr(DriverCall& call) { return getByNumber(call, recordNumberWord(call.word(0))); }

int handleRegetFile(DriverCall& call) {
  const std::vector<std::uint8_t> position = positionBytes(call.a(), records::kRecordNumberSize);
  return getByNumber(call, platform::loadBe32(position, 0));
}

int handleRegetKey(DriverCall& call) {
  records::QbxTable& table = tableOf(call);
  const records::QbxKeyDef& key = *call.key;
  const std::vector<std::uint8_t> position = positionBytes(call.a(), keyPositionLength(key));
  return fetchWaiting(call.file, [&] { return table.getByPosition(key, position); });
}

// ---- Writing ------------------------------------------------------------------

int handleAdd(DriverCall& call) { return tableOf(call).add(false); }
int handleAppend(DriverCall& call) { return tableOf(call).add(true); }
int handlePut(DriverCall& call) { return tableOf(call).replace(); }

int handlePutFilePtr(DriverCall& call) {
  return tableOf(call).replace(recordNumberWord(call.word(0)));
}

int handleDelete(DriverCall& call) { return tableOf(call).remove(); }
int handleEmpty(DriverCall& call) { return tableOf(call).empty(); }

// ---- Requests for the next read -------------------------------------------------

int handleHoldFile(DriverCall& call) {
  tableOf(call).request(records::kHoldRequested);
  call.file.holdTimeout = kHoldWithoutLimit;
  return 0;
}

int handleHoldFileSec(DriverCall& call) {
  tableOf(call).request(records::kHoldRequested);
  call.file.holdTimeout = static_cast<std::int32_t>(call.word(0));
  return 0;
}

int handleWatch(DriverCall& call) {
  tableOf(call).request(records::kWatchRequested);
  return 0;
}

int handleNoMemo(DriverCall& call) {
  tableOf(call).request(records::kNoMemoRequested);
  return 0;
}

int handleRelease(DriverCall& call) {
  tableOf(call).releaseHold();
  return 0;
}

}  // namespace qbx::driver
