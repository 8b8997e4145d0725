// The transaction marker of a data file and its consultation by recovery.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "platform/clock.h"
#include "platform/endian.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "qbx/store/transaction.h"

namespace qbx::store {
namespace {

// Pause between attempts to open a control file that another program holds
// with a sharing that excludes reading.
constexpr unsigned kSharingRetryPauseMillis = 10;

// Depth of consultations in progress. Opening a control file may recover a
// pending log of that file and consult its marker in turn; a control file
// carries no marker, so a marker met at that depth is damage (or a chain of
// files naming each other) and is not followed.
thread_local int consultDepth = 0;

struct ConsultScope {
  ConsultScope() { ++consultDepth; }
  ~ConsultScope() { --consultDepth; }
  ConsultScope(const ConsultScope&) = delete;
  ConsultScope& operator=(const ConsultScope&) = delete;
};

// The platform refuses an open with 5 both for the file's rights and for
// another open's sharing. The operating system knows nothing of that
// sharing: a regular file that it lets this program open for reading was
// refused by sharing, which ends when the other program lets go; a refusal
// by rights (or a path that is no regular file) stays.
bool refusedBySharing(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  if (probe == nullptr) return false;
  std::fclose(probe);
  return true;
}

// Whether the path names the store's own file.
bool namesStoreItself(QbxStore& store, const std::string& path) {
  platform::FileId id;
  return platform::fileId(path, &id) == 0 && id == store.diskFile().file().id();
}

// Whether the control file lists the number: a failed open gives none.
std::optional<bool> lists(const std::string& path, std::uint32_t number) {
  for (;;) {
    auto control = std::make_unique<QbxStore>();
    const int opened = control->open(path, kControlConsultOpenFlags, "");
    if (opened == 0) {
      std::array<std::uint8_t, kControlEntryKeySize> key{};
      platform::storeLe32(key, 0, number);
      const bool found = find(*control, *makeEntry(key)) != nullptr;
      control->close();
      return found;
    }
    if (opened != platform::kErrorAccessDenied || !refusedBySharing(path)) return std::nullopt;
    platform::sleepMillis(kSharingRetryPauseMillis);
  }
}

}  // namespace

std::vector<std::uint8_t> encodeMarker(std::uint32_t number, std::string_view path) {
  std::vector<std::uint8_t> data(kMarkerNumberSize + path.size() + 1, 0);
  platform::storeLe32(data, 0, number);
  std::copy(path.begin(), path.end(), data.begin() + kMarkerNumberSize);
  return data;
}

std::optional<TransactionMarker> decodeMarker(std::span<const std::uint8_t> data) {
  if (data.size() < kMarkerNumberSize) return std::nullopt;
  TransactionMarker marker;
  marker.number = platform::loadLe32(data, 0);
  const auto text = data.subspan(kMarkerNumberSize);
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  marker.path.assign(text.begin(), end);
  return marker;
}

QbxEntry* findMarker(QbxStore& store) {
  const std::array<std::uint8_t, 1> key = {kMarkerKey};
  return find(store, *makeEntry(key));
}

LogVerdict consultMarker(QbxStore& store) {
  // A state without pages holds no entries at all.
  const FileHeader& header = store.header();
  if (header.changeCount() == 0 || header.regionsEmpty()) return LogVerdict::kKeep;
  const QbxEntry* entry = findMarker(store);
  if (entry == nullptr) return LogVerdict::kKeep;
  // Too short to name a number: as if its control file could not be opened.
  const std::optional<TransactionMarker> marker = decodeMarker(entry->data());
  if (!marker || consultDepth > 0) return LogVerdict::kDrop;
  const ConsultScope scope;
  const std::string path = marker->path == kDefaultMarkerPath
                               ? defaultControlFilePath(store.diskFile().path())
                               : marker->path;
  // A file with a pending log is no control file; opening it again here
  // could wait for ever for this very store's sharing.
  if (namesStoreItself(store, path)) return LogVerdict::kDrop;
  const std::optional<bool> listed = lists(path, marker->number);
  // Still listed: the commit had not prepared every file.
  return listed.value_or(true) ? LogVerdict::kDrop : LogVerdict::kKeep;
}

}  // namespace qbx::store
