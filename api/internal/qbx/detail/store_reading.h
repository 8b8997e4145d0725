// Reading a store from outside an operation of the driver: one read access
// at a time (so that writers of other programs wait only while it lasts),
// with the store's internal errors turned into error 90 and their number.
// The store stays in reader mode: nothing here ever writes to the file.
#pragma once

#include <cstdint>
#include <utility>

#include "qbx/store/file_header.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/store.h"

namespace qbx::detail {

inline constexpr int kInvalidDataFile = 36;
inline constexpr int kFileSystemError = 90;

// Ends the store's access; an error while ending is of no consequence to a
// reader, which has nothing to commit.
void endReadAccess(store::QbxStore& store);

// Runs body() (returning 0 or an error code) within one read access: the
// header is refreshed first (a header that is no longer sound gives 36), the
// access ends afterwards whatever happened. An internal error of the store
// ends body with 90 and leaves its number in *internalError (else 0).
template <typename Body>
int readInStore(store::QbxStore& store, int* internalError, Body&& body) {
  *internalError = 0;
  int result = 0;
  try {
    result = store.refreshHeader(true);
    if (result == store::kRefreshInvalidHeader) result = kInvalidDataFile;
    if (result == 0) result = std::forward<Body>(body)();
  } catch (const store::InternalError& error) {
    *internalError = error.number;
    result = kFileSystemError;
  }
  endReadAccess(store);
  return result;
}

// Whether the header describes an entry tree: a file that has been
// committed with at least one page. Reading the tree of any other file
// would start a new one, which only a writer may.
bool hasTree(const store::FileHeader& header);

// Levels of the entry tree (1 when the root is a leaf); 0 without a tree.
// May raise the store's internal errors.
std::uint32_t treeDepth(store::QbxStore& store);

}  // namespace qbx::detail
