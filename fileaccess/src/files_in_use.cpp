#include "fileaccess/files_in_use.h"

#include <algorithm>
#include <mutex>

namespace fileaccess {

namespace {

// Driver calls on different THREAD copies may run at once, so the list is
// guarded; it holds a handful of entries, so a linear search is enough.
struct FilesInUseList {
  std::mutex mutex;
  std::vector<FileInUse> entries;

  std::vector<FileInUse>::iterator find(const FileBlock& file) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const FileInUse& e) { return e.file == &file; });
  }
};

FilesInUseList& list() {
  static FilesInUseList instance;
  return instance;
}

}  // namespace

void enterFileInUse(FileBlock& file) {
  auto& l = list();
  std::lock_guard lock(l.mutex);
  if (l.find(file) == l.entries.end()) l.entries.push_back(FileInUse{&file, 0, false});
}

void recordAccessMode(FileBlock& file, std::int32_t accessMode) {
  auto& l = list();
  std::lock_guard lock(l.mutex);
  const auto it = l.find(file);
  if (it == l.entries.end()) return;
  it->accessMode = accessMode;
  it->opened = true;
}

void removeFileInUse(FileBlock& file) {
  auto& l = list();
  std::lock_guard lock(l.mutex);
  const auto it = l.find(file);
  if (it != l.entries.end()) l.entries.erase(it);
}

bool isFileInUse(const FileBlock& file) {
  auto& l = list();
  std::lock_guard lock(l.mutex);
  return l.find(file) != l.entries.end();
}

std::vector<FileInUse> filesInUse() {
  auto& l = list();
  std::lock_guard lock(l.mutex);
  return l.entries;
}

}  // namespace fileaccess
