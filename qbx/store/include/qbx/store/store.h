// QbxStore: one open physical file (or one memory-only store): its disk file,
// its cached file header, its page cache, and the flags of its access, mode
// and changes. Pages and the slot allocator are in page_store.cpp and
// slot_allocator.h, the entry tree in entry_tree.h, commit in commit.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "qbx/store/disk_file.h"
#include "qbx/store/file_header.h"
#include "qbx/store/page_cache.h"

namespace qbx::store {

// Mode flags of open.
inline constexpr unsigned kOpenAccessMask = 0x003;  // 0 read, 1 write, 2 read and write
inline constexpr unsigned kOpenShareMask = 0x070;
inline constexpr unsigned kOpenShareCompat = 0x00;
inline constexpr unsigned kOpenDenyAll = 0x10;
inline constexpr unsigned kOpenDenyWrite = 0x20;
inline constexpr unsigned kOpenDenyRead = 0x30;
inline constexpr unsigned kOpenDenyNone = 0x40;
inline constexpr unsigned kOpenCreate = 0x100;

// Results of refresh header besides 0.
inline constexpr int kRefreshInvalidHeader = 1;
// Open reports an invalid header as "Invalid Data File".
inline constexpr int kErrorInvalidDataFile = 36;

class QbxStore {
 public:
  // Initialise: every flag clear, a disk file without handle, the cached
  // header zero but for its stored length. Until open succeeds the store is a
  // memory-only store.
  QbxStore();
  // Closes the store if its owner has not.
  ~QbxStore();
  QbxStore(const QbxStore&) = delete;
  QbxStore& operator=(const QbxStore&) = delete;

  // Opens the file and accepts its header (the first access, in reader
  // mode). 0, the platform's error, or 36 for a short or foreign header.
  [[nodiscard]] int open(const std::string& path, unsigned modeFlags, std::string_view password);
  // Ends the access (which commits), commits once more, drops the cache and
  // closes the disk file.
  void close();
  // Forgets the changes, closes the handle and deletes the file by its path.
  [[nodiscard]] int deleteFile();

  // Starts an access: takes the access lock in shared mode and, when the
  // file may have changed, reads its header. 0, 1 (invalid header) or 5 (the
  // access lock cannot be had without waiting).
  [[nodiscard]] int refreshHeader(bool wait);
  // Sets the file's length to the logical end (nothing in a transaction).
  void truncate();
  // Raises the record number counter and returns it, most significant byte
  // first. Needs writer mode (1163) and a good refresh (1164); the counter
  // stops at 0xFDFFFFFF (1173).
  std::array<std::uint8_t, 4> nextRecordNumber();
  void setRecordNumberCounter(std::span<const std::uint8_t, 4> counter);

  // Accesses and modes. An access lasts from refresh header to end access.
  [[nodiscard]] int endAccess();
  void enterWriterMode();
  void enterReaderMode();

  // The commit exclusion: the whole reader area, held from prepare to finish
  // in shared and deny-write mode.
  void takeReaderArea();
  void releaseReaderArea();
  // Record and table locks (never waiting): 0 or the platform's error.
  [[nodiscard]] int lockRecord(std::uint32_t number) { return disk_.lockRecord(number); }
  void unlockRecord(std::uint32_t number) { disk_.unlockRecord(number); }
  // Lets go of the writer byte, the reader slot, the reader area and the
  // record lock of number, whatever is held (a file marked by an internal
  // error is closed this way).
  void releaseAllLocks(std::uint32_t number);

  // Commit: prepare writes the changes so that the file holds the new state
  // even if the program dies, finish completes them; abandon forgets them.
  [[nodiscard]] int commit();
  [[nodiscard]] int prepare();
  [[nodiscard]] int finish();
  void abandon();
  // Sets the log bounds of the header at offset 0 to its logical end, so
  // that a prepared file keeps its old state; false (the log left pending)
  // when a write or flush failed.
  bool clearLog();

  // Pages (page_store.cpp).
  // The cached page, read and decoded when needed.
  QbxPage* getPage(std::int32_t number);
  // A new empty page under number, already dirty.
  QbxPage* createPage(std::int32_t number, std::uint8_t level);
  void markDirty(QbxPage* page);
  // Detaches its cursors, frees its entries and takes it out of the cache.
  void discardPage(QbxPage* page);
  // Discards every page and forgets the log map.
  void dropCache();
  // Files a page under another number.
  void renumberPage(QbxPage* page, std::int32_t number) { cache_.renumber(page, number); }
  std::int32_t nextTemporaryPageNumber();

  FileHeader& header() { return header_; }
  const FileHeader& header() const { return header_; }
  QbxDiskFile& diskFile() { return disk_; }
  PageCache& cache() { return cache_; }
  std::uint32_t dirtyPageCount() const { return cache_.dirtyCount(); }

  bool readerMode() const { return readerMode_; }
  bool accessOpen() const { return accessOpen_; }
  bool shared() const { return shared_; }
  bool denyWrite() const { return denyWrite_; }
  bool opened() const { return opened_; }
  bool changed() const { return changed_; }
  void setChanged() { changed_ = true; }
  bool inTransaction() const { return inTransaction_; }
  void setInTransaction(bool on) { inTransaction_ = on; }
  bool readerAreaHeld() const { return readerAreaHeld_; }

 private:
  // Access locks of shared mode (a reader slot or the writer byte).
  [[nodiscard]] int lockAccess(bool wait);
  void unlockAccess();
  // A pending log found by a refresh (log start != log end).
  void recoverPendingLog();
  // Trims the clean ring before a page is fetched.
  void trimCache();
  // Reads a page's image through the log map and decodes it.
  void readPage(QbxPage* page);
  // Writes one block during prepare: into the log when its home lies inside
  // the old data, else at home.
  void writeBlock(std::span<const std::uint8_t> block, std::uint64_t home);
  // The header as it stands at offset 0 (that of an empty store when the
  // file is empty): the old state, which prepare points at the log.
  FileHeader headerAtOffsetZero();
  void placePages();
  void writeDirtyPages();

  bool inTransaction_ = false;
  bool readerAreaHeld_ = false;
  QbxDiskFile disk_;
  bool shared_ = false;
  bool denyWrite_ = false;
  bool readerMode_ = false;
  bool opened_ = false;
  bool changed_ = false;
  bool accessOpen_ = false;
  bool closed_ = false;
  std::uint64_t oldLogicalEnd_ = 0;
  std::int32_t temporaryCounter_ = 0;
  FileHeader header_;
  PageCache cache_;
};

}  // namespace qbx::store
