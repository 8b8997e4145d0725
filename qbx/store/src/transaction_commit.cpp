// Commit all: the multi-file commit through transaction control files.
//
// The number of the commit is listed in every control file before any data
// file is touched, every changed member then gets a marker naming the number
// and is prepared (its new state complete in its log), and the number leaves
// the control files before any member is finished. A program that dies
// before the number has left a control file leaves the number listed, and
// recovery drops the logs of the files that name it; once it has left,
// recovery keeps them.
#include <algorithm>
#include <array>
#include <memory>

#include "platform/clock.h"
#include "platform/endian.h"
#include "platform/paths.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "qbx/store/transaction.h"

namespace qbx::store {
namespace {

CommitStepHook stepHook = nullptr;

void reachStep(CommitStep step) {
  if (stepHook != nullptr) stepHook(step);
}

EntryPtr numberEntry(std::uint32_t number) {
  std::array<std::uint8_t, kControlEntryKeySize> key{};
  platform::storeLe32(key, 0, number);
  return makeEntry(key);
}

enum class Listing { kDone, kTaken, kFailed };

// The control-file stores of one commit, in the order of their paths. Each
// stays in writer mode with its writer byte held from its first lookup until
// it is closed, so two programs never commit through one control file at
// the same time.
class ControlFiles {
 public:
  ControlFiles() = default;
  ControlFiles(const ControlFiles&) = delete;
  ControlFiles& operator=(const ControlFiles&) = delete;
  // On the way out of an internal error: nothing uncommitted may reach a
  // control file.
  ~ControlFiles() {
    for (Control& c : files_) c.store->abandon();
    files_.clear();
  }

  // Opens every control file and lists the number in each. kTaken when one
  // lists it already (the number is in use or was left by a dead program),
  // kFailed with *error when a file cannot be opened or its entry cannot be
  // committed.
  Listing list(const std::vector<std::string>& paths, std::uint32_t number, int* error) {
    for (const std::string& path : paths) {
      auto store = std::make_unique<QbxStore>();
      if (const int opened = store->open(path, kControlCommitOpenFlags, ""); opened != 0) {
        *error = opened;
        return Listing::kFailed;
      }
      // Two names of one file: a second store would wait for ever for the
      // writer byte that the first one holds.
      if (alreadyOpen(*store)) continue;
      store->enterWriterMode();
      files_.push_back({std::move(store), false});
      QbxStore& s = *files_.back().store;
      const EntryPtr key = numberEntry(number);
      if (find(s, *key) != nullptr) return Listing::kTaken;
      insert(s, numberEntry(number));
      if (const int committed = s.commit(); committed != 0) {
        *error = committed;
        return Listing::kFailed;
      }
      files_.back().listed = true;
    }
    return Listing::kDone;
  }

  // Takes the number out of every control file that this commit listed it
  // in. 0, or the first error of a commit.
  int withdraw(std::uint32_t number) {
    int result = 0;
    const EntryPtr key = numberEntry(number);
    for (Control& c : files_) {
      if (!c.listed) continue;
      c.listed = false;
      if (QbxEntry* entry = find(*c.store, *key)) deleteEntry(*c.store, entry);
      const int committed = c.store->commit();
      if (result == 0) result = committed;
    }
    return result;
  }

  // Closes every control file, cutting off the log area of its last commit.
  void closeAll() {
    for (Control& c : files_) {
      c.store->truncate();
      c.store->close();
    }
    files_.clear();
  }

 private:
  struct Control {
    std::unique_ptr<QbxStore> store;
    bool listed;  // holds this commit's number
  };

  bool alreadyOpen(QbxStore& store) {
    const platform::FileId id = store.diskFile().file().id();
    for (const Control& c : files_) {
      if (c.store->diskFile().file().id() == id) return true;
    }
    return false;
  }

  std::vector<Control> files_;
};

// Ends the transaction however commit all is left, also by an internal
// error: every member's uncommitted changes are abandoned.
class EndsTransaction {
 public:
  explicit EndsTransaction(QbxTransaction& transaction) : transaction_(transaction) {}
  ~EndsTransaction() { transaction_.endTransaction(); }
  EndsTransaction(const EndsTransaction&) = delete;
  EndsTransaction& operator=(const EndsTransaction&) = delete;

 private:
  QbxTransaction& transaction_;
};

// Replaces the member's marker by the one of this commit.
void writeMarker(QbxStore& member, std::span<const std::uint8_t> data) {
  if (QbxEntry* old = findMarker(member)) deleteEntry(member, old);
  const std::array<std::uint8_t, 1> key = {kMarkerKey};
  insert(member, makeEntry(key, data));
}

}  // namespace

void setCommitStepHook(CommitStepHook hook) { stepHook = hook; }

std::vector<std::string> QbxTransaction::controlFiles(const std::vector<QbxStore*>& changed) const {
  if (!controlPath_.empty()) {
    // Markers keep the path for a later program, which may run in another
    // directory: a relative name is resolved now.
    std::string full;
    if (platform::absolutePath(controlPath_, &full) == 0) return {full};
    return {controlPath_};
  }
  std::vector<std::string> paths = defaultPaths_;
  // Members that joined while a path was set recorded nothing; that path has
  // been cleared since, so their directories' control files serve too.
  for (QbxStore* member : changed) {
    std::string path = defaultControlFilePath(member->diskFile().path());
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
      paths.push_back(std::move(path));
  }
  return paths;
}

int QbxTransaction::commitAll() {
  // Members with changes, in member order (the most recent first).
  std::vector<QbxStore*> changed;
  for (auto it = members_.rbegin(); it != members_.rend(); ++it) {
    (*it)->setInTransaction(false);
    if ((*it)->changed()) changed.push_back(*it);
  }
  const EndsTransaction ends(*this);
  if (changed.empty()) return 0;
  if (changed.size() == 1) return changed.front()->commit();

  const std::vector<std::string> paths = controlFiles(changed);
  std::uint32_t number = platform::localTimeSeconds();
  int result = 0;
  ControlFiles control;
  for (;;) {
    const Listing listing = control.list(paths, number, &result);
    if (listing == Listing::kDone) break;
    // Entries this commit made are taken out again, so that no number is
    // left listed that no program will ever remove.
    (void)control.withdraw(number);
    control.closeAll();
    if (listing == Listing::kFailed) return result;
    ++number;
  }
  reachStep(CommitStep::kNumberListed);

  const std::vector<std::uint8_t> marker =
      encodeMarker(number, controlPath_.empty() ? std::string(kDefaultMarkerPath) : paths.front());
  std::size_t prepared = 0;
  for (QbxStore* member : changed) {
    writeMarker(*member, marker);
    result = member->prepare();
    if (result != 0) break;
    ++prepared;
  }
  bool mayWithdraw = true;
  if (result != 0) {
    // The members prepared so far go back to their old state. One whose log
    // cannot be cleared keeps it pending: the number must then stay listed
    // so that recovery drops that log too.
    for (std::size_t i = 0; i < prepared; ++i) {
      if (!changed[i]->clearLog()) mayWithdraw = false;
    }
  } else {
    reachStep(CommitStep::kMembersPrepared);
  }

  if (mayWithdraw) {
    // The first failure is the result; combining codes would make a
    // different error of them.
    const int withdrawn = control.withdraw(number);
    if (result == 0) result = withdrawn;
  }
  if (result == 0) reachStep(CommitStep::kNumberRemoved);
  control.closeAll();

  if (result == 0) {
    for (QbxStore* member : changed) {
      const int finished = member->finish();
      if (result == 0) result = finished;
    }
  }
  return result;
}

}  // namespace qbx::store
