// Opening a store on a file made of arbitrary bytes and reading all of it.
//
// Input: the whole file. It is opened twice, as the driver opens files:
//   1. reading, exclusively: a pending log is read through, nothing is
//      written; every entry of the tree is walked in key order and the
//      consistency check visits every page and slot;
//   2. reading and writing, exclusively, in writer mode: a pending log is
//      rolled forward (or dropped) first, then the same walk runs and the
//      close commits.
// An internal error is the expected answer to a damaged file; the store is
// then released the way the driver entry releases it after one. Anything
// else (a crash, a sanitizer report, a hang, an allocation beyond the
// fuzzer's limit) is a fault.
#include <cstdint>
#include <span>
#include <string>

#include "harness/scratch_file.h"
#include "qbx/store/consistency_check.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"

namespace {

using namespace qbx::store;

constexpr unsigned kReadExclusive = 0x10;       // read access, deny all
constexpr unsigned kReadWriteExclusive = 0x12;  // read and write access, deny all

// What the driver does with a store after an internal error: forget the
// changes, back to reader mode, end the access.
void releaseAfterError(QbxStore& store) {
  try {
    store.abandon();
    store.enterReaderMode();
    if (store.accessOpen()) (void)store.endAccess();
  } catch (const InternalError&) {
  }
}

void openAndWalk(const std::string& path, unsigned flags) {
  QbxStore store;
  try {
    if (store.open(path, flags, "") != 0) return;
    if ((flags & kOpenAccessMask) != 0) store.enterWriterMode();
    const EntryPtr start = makeEntry({});
    std::uint32_t sum = 0;
    for (QbxEntry* e = next(store, *start); e != nullptr; e = next(store, *e)) {
      // Touch every byte, so that an entry pointing at freed or foreign
      // memory is reported here.
      for (std::uint8_t b : e->all()) sum += b;
    }
    (void)checkConsistency(store);
    store.close();
    if (sum == 0xFFFFFFFFu) return;  // keeps the sum from being optimised away
  } catch (const InternalError&) {
    releaseAfterError(store);
  }
  try {
    store.close();
  } catch (const InternalError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = qbx::fuzz::scratchPath("walk.QBX");
  qbx::fuzz::writeScratchFile(path, std::span<const std::uint8_t>(data, size));
  openAndWalk(path, kReadExclusive);
  openAndWalk(path, kReadWriteExclusive);
  return 0;
}
