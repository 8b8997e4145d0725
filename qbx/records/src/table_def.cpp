#include "qbx/records/table_def.h"

#include <algorithm>

#include "fileaccess/declarations.h"

namespace qbx::records {

QbxTableDef::~QbxTableDef() { unlinkDeclaration(); }

bool QbxTableDef::hasBlobs() const {
  return std::any_of(memos.begin(), memos.end(), [](const QbxMemoDef& m) { return m.isBlob(); });
}

const CollationTables& QbxTableDef::activeCollation() const {
  return collation ? *collation : runtimeCollation();
}

void QbxTableDef::linkDeclaration() {
  if (fileBlock == nullptr) return;
  const std::uint32_t keyCount = fileaccess::effectiveKeyCount(*fileBlock);
  for (std::size_t i = 0; i < keys.size() && i < keyCount; ++i) {
    fileaccess::KeyDesc* desc = fileBlock->keyTable[i];
    if (desc == nullptr) continue;
    keys[i].desc = desc;
    desc->driverKey = &keys[i];
  }
  const std::uint32_t memoCount = fileaccess::effectiveMemoCount(*fileBlock);
  for (std::size_t i = 0; i < memos.size() && i < memoCount; ++i) {
    fileaccess::MemoDesc* desc = fileBlock->memoTable[i];
    if (desc == nullptr) continue;
    memos[i].desc = desc;
    desc->driverMemo = &memos[i];
    desc->memoBuffer = memos[i].buffer.get();
  }
}

void QbxTableDef::unlinkDeclaration() {
  for (QbxKeyDef& k : keys) {
    if (k.desc != nullptr && k.desc->driverKey == &k) k.desc->driverKey = nullptr;
    k.desc = nullptr;
  }
  for (QbxMemoDef& m : memos) {
    if (m.desc != nullptr && m.desc->driverMemo == &m) {
      m.desc->driverMemo = nullptr;
      m.desc->memoBuffer = nullptr;
    }
    m.desc = nullptr;
  }
}

}  // namespace qbx::records
