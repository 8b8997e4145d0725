#include "fileaccess/thread_copies.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dispatch.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/files_in_use.h"

namespace fileaccess {

namespace {

struct ThreadCopy {
  FileBlock file;
  std::vector<std::uint8_t> record;
  std::vector<KeyDesc> keys;
  std::vector<KeyDesc*> keyTable;
  std::vector<MemoDesc> memos;
  std::vector<MemoDesc*> memoTable;
};

std::unique_ptr<ThreadCopy> makeCopy(const FileBlock& declared) {
  auto copy = std::make_unique<ThreadCopy>();
  copy->file = declared;
  copy->file.driverState = nullptr;
  if (declared.recordBuffer != nullptr) {
    copy->record.assign(declared.recordBuffer, declared.recordBuffer + declared.recordLength);
    copy->file.recordBuffer = copy->record.data();
  }
  if (declared.keyTable != nullptr) {
    copy->keys.reserve(declared.keyCount);
    for (std::size_t i = 0; i < declared.keyCount; ++i) {
      KeyDesc key = declared.keyTable[i] != nullptr ? *declared.keyTable[i] : KeyDesc{};
      key.driverKey = nullptr;
      key.declaringFile = &copy->file;
      copy->keys.push_back(key);
    }
    for (KeyDesc& key : copy->keys) copy->keyTable.push_back(&key);
    copy->file.keyTable = copy->keyTable.data();
  }
  if (declared.memoTable != nullptr) {
    copy->memos.reserve(declared.memoCount);
    for (std::size_t i = 0; i < declared.memoCount; ++i) {
      MemoDesc memo = declared.memoTable[i] != nullptr ? *declared.memoTable[i] : MemoDesc{};
      memo.memoBuffer = nullptr;
      memo.driverMemo = nullptr;
      copy->memos.push_back(memo);
    }
    for (MemoDesc& memo : copy->memos) copy->memoTable.push_back(&memo);
    copy->file.memoTable = copy->memoTable.data();
  }
  return copy;
}

struct ThreadCopies {
  std::unordered_map<const FileBlock*, std::unique_ptr<ThreadCopy>> byDeclaration;
  std::unordered_set<const FileBlock*> copies;

  ThreadCopies() = default;
  ThreadCopies(const ThreadCopies&) = delete;
  ThreadCopies& operator=(const ThreadCopies&) = delete;

  // The thread ends: its copies go away, so whatever they still have open is
  // closed first and no entry of the files in use outlives its FileBlock.
  ~ThreadCopies() {
    for (auto& [declared, copy] : byDeclaration) {
      if (!isFileInUse(copy->file)) continue;
      static_cast<void>(dispatch(opCode(DriverOp::kClose), copy->file, {}));
      removeFileInUse(copy->file);
    }
  }
};

ThreadCopies& threadCopies() {
  thread_local ThreadCopies copies;
  return copies;
}

}  // namespace

FileBlock& threadCopy(FileBlock& declared, bool* justMade) {
  if (justMade != nullptr) *justMade = false;
  if ((declared.attributes & kAttrThread) == 0) return declared;
  ThreadCopies& mine = threadCopies();
  if (mine.copies.contains(&declared)) return declared;
  auto& slot = mine.byDeclaration[&declared];
  if (!slot) {
    slot = makeCopy(declared);
    mine.copies.insert(&slot->file);
    if (justMade != nullptr) *justMade = true;
  }
  return slot->file;
}

}  // namespace fileaccess
