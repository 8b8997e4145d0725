#include "qbx/records/shared_stores.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

struct OpenStore {
  platform::FileId id;
  std::unique_ptr<store::QbxStore> store;
  std::size_t users = 0;
};

// The process's open physical files. The engine runs on one thread.
std::vector<OpenStore>& openStores() {
  static std::vector<OpenStore> stores;
  return stores;
}

OpenStore* findById(const platform::FileId& id) {
  for (OpenStore& s : openStores()) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

OpenStore* findByStore(const store::QbxStore* store) {
  for (OpenStore& s : openStores()) {
    if (s.store.get() == store) return &s;
  }
  return nullptr;
}

// Forgets a store's uncommitted changes and releases its access locks, so
// that its close writes nothing of a half-made change.
void abandonQuietly(store::QbxStore& s) {
  try {
    s.abandon();
    s.enterReaderMode();
    if (s.accessOpen()) static_cast<void>(s.endAccess());
  } catch (const store::InternalError&) {
    // Nothing more can be released.
  }
}

}  // namespace

StoreUse::StoreUse(StoreUse&& other) noexcept : store_(other.store_), uncaught_(other.uncaught_) {
  other.store_ = nullptr;
}

StoreUse& StoreUse::operator=(StoreUse&& other) noexcept {
  if (this != &other) {
    release();
    store_ = other.store_;
    uncaught_ = other.uncaught_;
    other.store_ = nullptr;
  }
  return *this;
}

std::size_t StoreUse::users() const {
  const OpenStore* s = findByStore(store_);
  return s == nullptr ? 0 : s->users;
}

void StoreUse::release() {
  if (store_ == nullptr) return;
  store::QbxStore* released = store_;
  store_ = nullptr;
  if (std::uncaught_exceptions() > uncaught_) abandonQuietly(*released);
  auto& stores = openStores();
  const auto it = std::find_if(stores.begin(), stores.end(), [released](const OpenStore& s) {
    return s.store.get() == released;
  });
  if (it == stores.end() || --it->users > 0) return;
  std::unique_ptr<store::QbxStore> closing = std::move(it->store);
  stores.erase(it);
  try {
    closing->close();
  } catch (const store::InternalError&) {
    // The close of a store whose file went bad; the descriptor goes with
    // the store all the same.
  }
}

int acquireStore(const std::string& fullName, unsigned modeFlags, std::string_view owner,
                 StoreUse* out) {
  out->release();
  platform::FileId id;
  OpenStore* found = platform::fileId(fullName, &id) == 0 ? findById(id) : nullptr;
  if (found == nullptr) {
    auto s = std::make_unique<store::QbxStore>();
    if (const int error = s->open(fullName, modeFlags, owner); error != 0) return error;
    id = s->diskFile().file().id();
    // The name may have pointed elsewhere a moment ago: the identity of the
    // file actually opened decides.
    found = findById(id);
    if (found == nullptr) {
      openStores().push_back(OpenStore{id, std::move(s), 0});
      found = &openStores().back();
    }
  }
  ++found->users;
  out->store_ = found->store.get();
  out->uncaught_ = std::uncaught_exceptions();
  return 0;
}

std::size_t openStoreCount() { return openStores().size(); }

}  // namespace qbx::records
