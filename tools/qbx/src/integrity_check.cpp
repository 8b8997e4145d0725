#include "qbx/inspector/integrity_check.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "check_tables.h"
#include "header_check.h"
#include "key_differences.h"
#include "key_forming.h"
#include "platform/endian.h"
#include "problem_log.h"
#include "qbx/detail/store_reading.h"
#include "qbx/detail/table_catalogue.h"
#include "qbx/driver/file_names.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/format.h"
#include "qbx/records/shared_stores.h"
#include "qbx/store/consistency_check.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/store.h"
#include "text_output.h"

namespace qbx::inspector {
namespace {

using store::QbxEntry;
using store::QbxPage;

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr std::size_t kShown = 24;
  std::string s;
  for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  if (bytes.size() > kShown) s += "...";
  return s.empty() ? "(empty)" : s;
}

class Checker {
 public:
  Checker(store::QbxStore& s, ProblemLog& log, CheckSummary& summary)
      : store_(s), log_(log), summary_(summary) {}

  void run() {
    reportLog();
    if (!detail::hasTree(store_.header())) {
      if (!store_.header().regionsEmpty()) {
        log_.problem("header: the file has pages but no tree was ever committed (change count 0)");
      } else {
        log_.note("the file holds no entries yet");
      }
      return;
    }
    for (const std::string& p : store::checkConsistency(store_)) log_.problem(p);
    loadTables();
    walkTree();
    for (TableState& t : tables_) finishTable(t);
    summary_.tables = static_cast<std::uint32_t>(tables_.size());
  }

 private:
  void reportLog() {
    const store::FileHeader& h = store_.header();
    if (!store_.cache().logMap().empty()) {
      log_.note(
          "a commit was cut short after its log was complete: the file is read through "
          "the log until a writer opens it");
    } else if (h.logStart() != h.logEnd()) {
      log_.note(
          "a commit was cut short before its log was complete: its changes are lost, the "
          "state before it stands");
    }
  }

  std::uint32_t counter() const { return platform::loadBe32(store_.header().recordCounter(), 0); }

  // --- Tables ------------------------------------------------------------------
  void loadTables() {
    std::vector<detail::TableNameRecord> names;
    try {
      names = detail::listTableNames(store_);
    } catch (const store::InternalError& error) {
      log_.problem("the table name records cannot be read: " + describeError(90, error.number));
    }
    std::unordered_map<std::uint32_t, std::string> seen;
    for (const detail::TableNameRecord& r : names) {
      const std::string name = "table " + printable(r.name);
      if (r.name.empty()) log_.problem(name + "(empty name): a table name record without a name");
      if (!r.number) {
        log_.problem(name + ": its name record does not hold a 4-byte table number");
        continue;
      }
      const std::uint32_t number = *r.number;
      if (number == 0 || number > counter()) {
        log_.problem(name + ": table number " + std::to_string(number) +
                     " was never issued (the number counter stands at " +
                     std::to_string(counter()) + ")");
      }
      if (const auto [it, fresh] = seen.emplace(number, r.name); !fresh) {
        log_.problem(name + ": table number " + std::to_string(number) +
                     " is also the number of table " + printable(it->second));
        continue;
      }
      TableState t;
      t.name = name;
      t.number = number;
      try {
        loadTable(t);
      } catch (const store::InternalError& error) {
        log_.problem(name + ": cannot be read: " + describeError(90, error.number));
        t.def.reset();
        t.keys.clear();
      }
      byNumber_[number] = tables_.size();
      tables_.push_back(std::move(t));
    }
  }

  void loadTable(TableState& t) {
    auto def = std::make_unique<records::QbxTableDef>();
    if (const int result = detail::loadDefinition(store_, t.number, *def); result != 0) {
      log_.problem(t.name + ": its stored definition cannot be used: " + describeError(result));
    } else {
      t.def = std::move(def);
    }
    const auto sortKey = records::sortTableKey(t.number);
    const store::EntryPtr search = store::makeEntry(sortKey);
    if (const QbxEntry* e = store::find(store_, *search); e == nullptr) {
      log_.note(t.name + ": no sort table record; its keys are formed with the default collation");
    } else if (!records::decodeSortTableData(e->data())) {
      log_.problem(t.name + ": its sort table record holds " + std::to_string(e->data().size()) +
                   " bytes, not 1153");
    }
    t.status = detail::readStatus(store_, t.number, records::kStatusTableSelector);
    if (!t.def) return;
    t.keys.resize(t.def->keys.size());
    for (std::size_t k = 0; k < t.keys.size(); ++k) {
      const records::QbxKeyDef& key = t.def->keys[k];
      if (key.isDynamic()) continue;
      KeyState& ks = t.keys[k];
      ks.status = detail::readStatus(store_, t.number, key.keyNumber);
      if (ks.status) ks.mark = ks.status->counter2;
    }
  }

  TableState* tableOf(std::uint32_t number) {
    if (last_ != nullptr && last_->number == number) return last_;
    const auto it = byNumber_.find(number);
    last_ = it == byNumber_.end() ? nullptr : &tables_[it->second];
    return last_;
  }

  std::string keyName(const TableState& t, std::size_t k) const {
    const records::OptText& label = t.def->keys[k].label;
    return t.name + " key " +
           (label && !label->empty() ? printable(*label) : "#" + std::to_string(k + 1));
  }

  // --- The walk over every entry ----------------------------------------------
  void walkTree() {
    QbxPage* root = nullptr;
    try {
      root = store::getRootPage(store_);
    } catch (const store::InternalError&) {
      return;  // reported by the consistency check
    }
    walkPage(root);
  }

  // Leaves in key order; a page that cannot be read has been reported by the
  // consistency check and is passed over, the walk going on after it.
  void walkPage(QbxPage* page) {
    if (!visited_.insert(page->number).second) return;
    ++summary_.pages;
    store::PagePin pin(page);
    for (QbxEntry* e = store::leftmost(page->tree); e != nullptr; e = store::inTreeSuccessor(e)) {
      if (page->isLeaf()) {
        visit(*e);
        continue;
      }
      QbxPage* child = nullptr;
      try {
        child = store_.getPage(e->childPage());
      } catch (const store::InternalError&) {
        continue;
      }
      if (child->level < page->level) walkPage(child);
    }
  }

  void visit(const QbxEntry& e) {
    ++summary_.entries;
    const auto key = e.key();
    if (key.empty()) return;  // the empty-key entry that starts every tree
    if (key[0] == records::kKindTableName || key[0] == 0xFF) return;  // names, transaction marker
    if (key.size() < records::kTablePrefixSize) {
      log_.repeated("entries too short for a table",
                    "entry " + hex(key) + ": too short to belong to a table");
      return;
    }
    const std::uint32_t number = platform::loadBe32(key, 0);
    TableState* t = tableOf(number);
    if (t == nullptr) {
      log_.repeated("entries of table number " + std::to_string(number),
                    "entry " + hex(key) + ": table number " + std::to_string(number) +
                        " has no table name record");
      return;
    }
    const std::uint8_t kind = key[records::kKindOffset];
    if (kind <= records::kKindLastKey) {
      visitKeyEntry(*t, kind, e);
      return;
    }
    switch (kind) {
      case records::kKindDataRecord:
        visitRecord(*t, e);
        return;
      case records::kKindStatus:
        if (key.size() != records::kStatusKeySize || e.data().size() != records::kStatusDataSize) {
          log_.problem(t->name + ": status record " + hex(key) + " is damaged (" +
                       std::to_string(key.size()) + "-byte key, " +
                       std::to_string(e.data().size()) + " bytes of data)");
        } else if (key[5] != records::kStatusTableSelector && t->def && key[5] >= t->keys.size()) {
          log_.problem(t->name + ": a status record for key number " + std::to_string(key[5]) +
                       ", which the definition does not have");
        }
        return;
      case records::kKindDefinitionChunk:
      case records::kKindSortTable:
        return;  // read with the table
      case records::kKindMemoChunk:
        visitMemoChunk(*t, e);
        return;
      default:
        log_.repeated(t->name + ": entries of unknown kind",
                      t->name + ": entry " + hex(key) + " is of no known kind");
    }
  }

  void visitKeyEntry(TableState& t, std::uint8_t k, const QbxEntry& e) {
    ++t.keyEntries;
    ++summary_.keyEntries;
    if (!t.def) return;
    if (k >= t.keys.size()) {
      log_.repeated(t.name + ": entries of key number " + std::to_string(k),
                    t.name + ": entry " + hex(e.key()) + " belongs to key number " +
                        std::to_string(k + 1) + ", which the definition does not have");
      return;
    }
    const records::QbxKeyDef& key = t.def->keys[k];
    const std::string name = keyName(t, k);
    if (key.isDynamic()) {
      log_.repeated(name + ": entries in the file",
                    name + ": a dynamic index has entry " + hex(e.key()) + " in the file");
      return;
    }
    if (e.keyLength != key.entryKeyLength() || e.data().size() != key.entryDataLength()) {
      log_.repeated(name + ": entries of the wrong length",
                    name + ": entry " + hex(e.key()) + " has a " + std::to_string(e.keyLength) +
                        "-byte key and " + std::to_string(e.data().size()) +
                        " bytes of data, not " + std::to_string(key.entryKeyLength()) + " and " +
                        std::to_string(key.entryDataLength()));
    }
    KeyState& ks = t.keys[k];
    ++ks.heldAll;
    const std::uint32_t n = records::trailingRecordNumber(e.all());
    if (ks.mark == 0 || n < ks.mark) ks.held.add(e.all());
  }

  void visitRecord(TableState& t, const QbxEntry& e) {
    ++t.records;
    ++summary_.records;
    const auto key = e.key();
    if (key.size() != records::kDataRecordKeySize) {
      log_.repeated(t.name + ": damaged record keys",
                    t.name + ": data record key " + hex(key) + " is not 9 bytes long");
      return;
    }
    const std::uint32_t n = records::trailingRecordNumber(key);
    t.recordNumbers.push_back(n);
    if (n == 0 || n > counter()) {
      log_.repeated(t.name + ": record numbers never issued",
                    t.name + ": record number " + std::to_string(n) +
                        " was never issued (the number counter stands at " +
                        std::to_string(counter()) + ")");
    }
    if (!t.def) return;
    if (e.data().size() != t.def->recordLength) {
      log_.repeated(t.name + ": records of the wrong length",
                    t.name + ": record " + std::to_string(n) + " holds " +
                        std::to_string(e.data().size()) + " bytes, not the record length " +
                        std::to_string(t.def->recordLength));
      return;
    }
    const std::span<const std::uint8_t> image = programImage(*t.def, e.data(), t.image);
    for (std::size_t k = 0; k < t.keys.size(); ++k) {
      const records::QbxKeyDef& keyDef = t.def->keys[k];
      KeyState& ks = t.keys[k];
      if (keyDef.isDynamic() || (ks.mark != 0 && n >= ks.mark)) continue;
      if (formRecordEntry(*t.def, keyDef, image, n, t.keyEntry)) ks.formed.add(t.keyEntry);
    }
  }

  void visitMemoChunk(TableState& t, const QbxEntry& e) {
    const auto key = e.key();
    if (key.size() != records::kMemoChunkKeySize) {
      log_.repeated(t.name + ": damaged memo chunks",
                    t.name + ": memo chunk " + hex(key) + " has a key of the wrong length");
      return;
    }
    const std::uint8_t memo = key[records::kTablePrefixSize + records::kRecordNumberSize];
    if (t.def && memo >= t.def->memos.size()) {
      log_.repeated(t.name + ": memo chunks of unknown memos",
                    t.name + ": memo chunk " + hex(key) + " belongs to memo number " +
                        std::to_string(memo + 1) + ", which the definition does not have");
    }
    if (e.data().size() > records::kMemoChunkSize + 4) {
      log_.repeated(t.name + ": damaged memo chunks",
                    t.name + ": memo chunk " + hex(key) + " holds " +
                        std::to_string(e.data().size()) + " bytes");
    }
    t.memoRecordNumbers.push_back(platform::loadBe32(key, records::kTablePrefixSize));
  }

  // --- After the walk -----------------------------------------------------------
  void finishTable(TableState& t) {
    if (!t.status) {
      log_.problem(t.name + ": its status record is missing");
    } else if (t.status->counter1 != t.records) {
      log_.problem(t.name + ": its status record counts " + std::to_string(t.status->counter1) +
                   " records, the table holds " + std::to_string(t.records));
    }
    checkMemoOwners(t);
    if (!t.def) return;
    outOfDate_.clear();
    for (std::size_t k = 0; k < t.keys.size(); ++k) {
      const records::QbxKeyDef& key = t.def->keys[k];
      if (key.isDynamic()) continue;
      finishKey(t, k);
    }
    // Keys that records were appended to since their last build, one note per mark.
    for (const auto& [mark, names] : outOfDate_) {
      std::string text = names.size() == 1
                             ? names.front() + " is"
                             : t.name + ": " + std::to_string(names.size()) + " keys are";
      text += " out of date from record " + std::to_string(mark) +
              " on (records added since the last build); only the entries of earlier records "
              "are checked";
      log_.note(text);
    }
  }

  void finishKey(TableState& t, std::size_t k) {
    KeyState& ks = t.keys[k];
    const std::string name = keyName(t, k);
    if (!ks.status) {
      log_.problem(name + ": its status record is missing");
    } else if (ks.mark != 0) {
      if (ks.mark > counter()) {
        log_.problem(name + ": out of date from record " + std::to_string(ks.mark) +
                     ", a number never issued");
      } else {
        outOfDate_[ks.mark].push_back(name);
      }
    } else if (ks.status->counter1 != ks.heldAll) {
      log_.problem(name + ": its status record counts " + std::to_string(ks.status->counter1) +
                   " entries, the key holds " + std::to_string(ks.heldAll));
    }
    if (ks.held == ks.formed) return;
    log_.problem(name + ": its entries are not those its records form (" +
                 std::to_string(ks.held.count()) + " held, " + std::to_string(ks.formed.count()) +
                 " formed" + (ks.mark != 0 ? ", records before " + std::to_string(ks.mark) : "") +
                 ")");
    try {
      listKeyDifferences(store_, *t.def, t.def->keys[k], ks.mark, name, log_);
    } catch (const store::InternalError& error) {
      log_.problem(name + ": its differences cannot be listed: " + describeError(90, error.number));
    }
  }

  void checkMemoOwners(TableState& t) {
    if (t.memoRecordNumbers.empty()) return;
    std::sort(t.recordNumbers.begin(), t.recordNumbers.end());
    for (std::uint32_t n : t.memoRecordNumbers) {
      if (!std::binary_search(t.recordNumbers.begin(), t.recordNumbers.end(), n)) {
        log_.repeated(t.name + ": memo chunks without their record",
                      t.name + ": a memo chunk names record " + std::to_string(n) +
                          ", which the table does not hold");
      }
    }
  }

  store::QbxStore& store_;
  ProblemLog& log_;
  CheckSummary& summary_;
  std::vector<TableState> tables_;
  std::unordered_map<std::uint32_t, std::size_t> byNumber_;
  TableState* last_ = nullptr;
  std::unordered_set<std::int32_t> visited_;
  std::map<std::uint32_t, std::vector<std::string>> outOfDate_;
};

}  // namespace

int checkFile(const std::string& path, std::string_view password, CheckSink& sink,
              CheckSummary* summary) {
  *summary = CheckSummary{};
  std::string full;
  if (const int result = driver::formFullName(path, driver::kDefaultExtension, &full);
      result != 0) {
    return result;
  }
  ProblemLog log(sink);
  records::StoreUse use;
  int result = 0;
  try {
    result = records::acquireStore(full, store::kOpenDenyNone, password, &use);
  } catch (const store::InternalError& error) {
    log.problem("header: " + describeError(90, error.number));
    summary->problems = log.count();
    return 0;
  }
  if (result == detail::kInvalidDataFile) {
    log.problem("header: the file is refused: " + describeError(result));
    reportHeaderProblems(full, password, log);
    summary->problems = log.count();
    return 0;
  }
  if (result != 0) return result;
  // One access for the whole check: one committed state, read while other
  // programs go on reading (a writer's next commit waits for its end).
  int internalError = 0;
  Checker checker(*use, log, *summary);
  const int ran = detail::readInStore(*use, &internalError, [&] {
    checker.run();
    return 0;
  });
  if (ran != 0) log.problem("the check stopped: " + describeError(ran, internalError));
  log.finish();
  summary->problems = log.count();
  return 0;
}

}  // namespace qbx::inspector
