#include "qbx/detail/store_reading.h"

#include "qbx/store/entry_tree.h"

namespace qbx::detail {

void endReadAccess(store::QbxStore& store) {
  try {
    static_cast<void>(store.endAccess());
  } catch (const store::InternalError&) {
    // A reader holds no changes; its locks go with the access regardless.
  }
}

bool hasTree(const store::FileHeader& header) {
  return header.changeCount() != 0 && !header.regionsEmpty() && header.rootPage() >= 0;
}

std::uint32_t treeDepth(store::QbxStore& store) {
  if (!hasTree(store.header())) return 0;
  return static_cast<std::uint32_t>(store::getRootPage(store)->level) + 1;
}

}  // namespace qbx::detail
