// Changing a store whose file is made of arbitrary bytes.
//
// Input: the whole file. It is opened reading and writing, exclusively, in
// writer mode, and changed as a program changes a file: 40 entries appended
// through a cursor (keys that sort after every record key, so that the
// cursor's straight-into-the-leaf path runs), 20 inserted from the root in
// between the file's own keys, then every second one of the first 200
// entries removed, and the changes committed. The file is then opened again
// reading and walked. An internal error is the expected answer to a damaged
// file; the store is then released as the driver entry releases it.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "harness/scratch_file.h"
#include "qbx/store/cursor.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"

namespace {

using namespace qbx::store;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kReadExclusive = 0x10;
constexpr unsigned kReadWriteExclusive = 0x12;

void releaseAfterError(QbxStore& store) {
  try {
    store.abandon();
    store.enterReaderMode();
    if (store.accessOpen()) (void)store.endAccess();
  } catch (const InternalError&) {
  }
}

void closeQuietly(QbxStore& store) {
  try {
    store.close();
  } catch (const InternalError&) {
  }
}

EntryPtr numbered(std::uint8_t first, std::uint32_t n, std::size_t dataLength) {
  const Bytes key = {first, 0, 0, 1, 0xF3, static_cast<std::uint8_t>(n >> 8),
                     static_cast<std::uint8_t>(n)};
  Bytes data(dataLength, static_cast<std::uint8_t>(' ' + n % 64));
  return makeEntry(key, data);
}

void update(const std::string& path) {
  QbxStore store;
  try {
    if (store.open(path, kReadWriteExclusive, "") != 0) return;
    store.enterWriterMode();
    {
      QbxCursor cursor(store);
      for (std::uint32_t n = 0; n < 40; ++n) cursor.insert(numbered(0xF0, n, 30 + n % 7 * 40));
    }
    for (std::uint32_t n = 0; n < 20; ++n) {
      EntryPtr e = numbered(static_cast<std::uint8_t>(n * 13), n, 20);
      if (find(store, *e) == nullptr) insert(store, std::move(e));
    }
    std::vector<Bytes> keys;
    const EntryPtr start = makeEntry({});
    for (QbxEntry* e = next(store, *start); e != nullptr && keys.size() < 200; e = next(store, *e)) {
      keys.emplace_back(e->key().begin(), e->key().end());
    }
    for (std::size_t i = 0; i < keys.size(); i += 2) {
      if (QbxEntry* e = find(store, *makeEntry(keys[i]))) deleteEntry(store, e);
    }
    (void)store.commit();
    store.close();
  } catch (const InternalError&) {
    releaseAfterError(store);
  }
  closeQuietly(store);
}

void walk(const std::string& path) {
  QbxStore store;
  try {
    if (store.open(path, kReadExclusive, "") != 0) return;
    const EntryPtr start = makeEntry({});
    for (QbxEntry* e = next(store, *start); e != nullptr; e = next(store, *e)) {
    }
    store.close();
  } catch (const InternalError&) {
    releaseAfterError(store);
  }
  closeQuietly(store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = qbx::fuzz::scratchPath("update.QBX");
  qbx::fuzz::writeScratchFile(path, std::span<const std::uint8_t>(data, size));
  update(path);
  walk(path);
  return 0;
}
