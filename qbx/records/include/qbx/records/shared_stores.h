// The physical files this process has open: one QbxStore per physical file,
// shared by every table open in it and counted by uses. A physical file is
// known by its device and inode, so two names of one file (links) share a
// store and two names that differ only in case are two files. The first use
// opens the file with its access mode and owner text; later uses take the
// open store whatever mode and owner they give; the last use closes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qbx::store {
class QbxStore;
}

namespace qbx::records {

// One use of a shared store. Releasing the last use closes the store (which
// commits what is pending). A use released while an exception unwinds (an
// internal error of the store) first abandons the store's uncommitted
// changes, so that a half-changed tree is never written.
class StoreUse {
 public:
  StoreUse() = default;
  ~StoreUse() { release(); }
  StoreUse(StoreUse&& other) noexcept;
  StoreUse& operator=(StoreUse&& other) noexcept;
  StoreUse(const StoreUse&) = delete;
  StoreUse& operator=(const StoreUse&) = delete;

  store::QbxStore* get() const { return store_; }
  store::QbxStore& operator*() const { return *store_; }
  store::QbxStore* operator->() const { return store_; }
  explicit operator bool() const { return store_ != nullptr; }

  // Uses of this store in the process, this one included (0 when empty).
  std::size_t users() const;
  void release();

 private:
  friend int acquireStore(const std::string&, unsigned, std::string_view, StoreUse*);
  store::QbxStore* store_ = nullptr;
  int uncaught_ = 0;  // exceptions in flight when the use was taken
};

// A use of the store of the physical file with this full name, opening it
// with the mode flags (store.h) and owner text when no use is open. 0, or the
// store's open error (2, 3, 5, 36, ...).
[[nodiscard]] int acquireStore(const std::string& fullName, unsigned modeFlags,
                               std::string_view owner, StoreUse* out);

// The number of physical files open in the process.
std::size_t openStoreCount();

}  // namespace qbx::records
