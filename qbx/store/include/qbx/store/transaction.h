// Multi-file transactions. LOGOUT joins stores to the driver-wide
// QbxTransaction; COMMIT commits all of them so that either every file takes
// its changes or none does, even when the program dies half-way. A commit of
// two or more changed files lists its transaction number in one or more
// transaction control files (small QBX files without tables), writes a
// transaction marker into every data file, prepares every file, removes the
// number from the control files and only then finishes the files. Recovery of
// a data file with a pending log keeps the log only when the control file its
// marker names no longer lists the marker's number.
//
// ON-DISK layout (changing any of it breaks existing files):
//
// Control file entry, one per multi-file commit in progress (besides the
// empty-key entry of every QBX file):
//   key   +0  4  transaction number, little-endian
//   data         none
//
// Transaction marker, at most one per data file, replaced by every
// multi-file commit:
//   key   +0  1  0xFF (no table's entries begin with this byte)
//   data  +0  4  transaction number of the file's last multi-file commit, LE
//         +4  n  the control file path used, then one zero byte; the text
//                "C:\quillbox.TCF" when the default control file of each
//                data file's own directory was used
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qbx::store {

class QbxStore;
struct QbxEntry;

inline constexpr std::uint8_t kMarkerKey = 0xFF;
inline constexpr std::size_t kMarkerNumberSize = 4;
inline constexpr std::size_t kControlEntryKeySize = 4;
// Stored in markers as written: the marker's way of saying "the default
// control file of this data file's directory".
inline constexpr std::string_view kDefaultMarkerPath = "C:\\quillbox.TCF";
// The name of the default control file in a data file's directory.
inline constexpr std::string_view kControlFileName = "quillbox.tcf";
// Control files are opened by a commit to create if missing, read and write,
// deny none; by recovery read only, deny none, the file must exist.
inline constexpr unsigned kControlCommitOpenFlags = 0x142;
inline constexpr unsigned kControlConsultOpenFlags = 0x40;
// Default control file paths one transaction can record.
inline constexpr std::size_t kMaxDefaultControlPaths = 100;

struct TransactionMarker {
  std::uint32_t number = 0;
  std::string path;
};

// The marker's data for a commit's number and control file path.
std::vector<std::uint8_t> encodeMarker(std::uint32_t number, std::string_view path);
// The marker read from its data bytes: none when fewer than the number's
// four bytes are there; a path without its zero byte ends at the end of the
// data.
std::optional<TransactionMarker> decodeMarker(std::span<const std::uint8_t> data);
// The marker entry of the store's current state, or none.
QbxEntry* findMarker(QbxStore& store);

// The default control file of a data file: "quillbox.tcf" in the data
// file's directory, the directory resolved to its real path (the text as
// formed when the directory cannot be resolved).
std::string defaultControlFilePath(const std::string& dataFilePath);

// What recovery does with a pending log, after the marker of its new state
// has been consulted.
enum class LogVerdict { kKeep, kDrop };
// Run by recovery with the new state of the store readable through its log
// map. No marker: keep. Otherwise the control file it names is opened read
// only; while that open is refused by another program's sharing it is tried
// again after a short pause, any other failure drops the log. A number still
// listed drops the log (the commit had not prepared every file); otherwise
// the log is kept. A marker too short to hold its number drops the log.
LogVerdict consultMarker(QbxStore& store);

// The steps of commit all after which a watcher (a test that stops the
// program there, a tracer) may be called.
enum class CommitStep {
  kNumberListed,     // every control file lists the number; no data file is changed yet
  kMembersPrepared,  // every changed member is prepared
  kNumberRemoved,    // the number has left every control file; nothing is finished yet
};
using CommitStepHook = void (*)(CommitStep step);
// Installs the watcher (null removes it).
void setCommitStepHook(CommitStepHook hook);

class QbxTransaction {
 public:
  QbxTransaction() = default;
  QbxTransaction(const QbxTransaction&) = delete;
  QbxTransaction& operator=(const QbxTransaction&) = delete;

  // LOGOUT of a store: it becomes a member (its commits and truncations do
  // nothing until the transaction ends) and, unless a control file path is
  // set, its default control file path is recorded once. A 101st distinct
  // path is internal error 2183, raised before the store joins.
  void join(QbxStore& store);
  // Takes a store out of the transaction without touching its changes (a
  // store that is going away while it is a member).
  void leave(QbxStore& store);

  // COMMIT: commits every member with changes as one, then ends the
  // transaction. 0, or the first error met; on an error no data file takes
  // the transaction's changes, and every member's changes are abandoned.
  [[nodiscard]] int commitAll();
  // ROLLBACK: ends the transaction; every member loses its uncommitted
  // changes, those made before it joined too. Always 0.
  int rollBack();
  // Every member leaves, abandoning whatever it has not committed; the
  // recorded default paths are forgotten.
  void endTransaction();

  // The control file set by the driver string "TCF" (empty: none; each data
  // file then uses the default control file of its own directory). Setting
  // it keeps the replaced one as the previous path.
  void setControlFilePath(std::string path);
  const std::string& controlFilePath() const { return controlPath_; }
  const std::string& previousControlFilePath() const { return previousControlPath_; }

  const std::vector<std::string>& defaultControlPaths() const { return defaultPaths_; }
  bool running() const { return !members_.empty(); }
  bool isMember(const QbxStore& store) const;
  std::size_t memberCount() const { return members_.size(); }

  // Driver end: ends a running transaction and frees the paths.
  void release();

 private:
  // The control files of a multi-file commit of the changed members, in
  // order.
  std::vector<std::string> controlFiles(const std::vector<QbxStore*>& changed) const;

  std::string controlPath_;
  std::string previousControlPath_;
  std::vector<std::string> defaultPaths_;  // in the order recorded
  // In joining order; member order, in which commits work, is the reverse
  // (the most recent member first).
  std::vector<QbxStore*> members_;
};

// The one transaction of the driver.
QbxTransaction& driverTransaction();

// Program end: commits the driver's transaction when one is running (the
// program has ended, so there is nobody to tell its result).
void commitRunningTransaction();

}  // namespace qbx::store
