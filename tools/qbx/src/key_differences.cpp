#include "key_differences.h"

#include <algorithm>
#include <vector>

#include "key_forming.h"
#include "qbx/records/entry_keys.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::inspector {
namespace {

using Entry = std::vector<std::uint8_t>;

// Calls f(entry) for every entry whose key begins with the 5-byte prefix.
template <typename F>
void forEachWithPrefix(store::QbxStore& s, std::span<const std::uint8_t> prefix, F&& f) {
  const store::EntryPtr start = store::makeEntry(prefix);
  for (store::QbxEntry* e = store::next(s, *start); e != nullptr; e = store::next(s, *e)) {
    const auto key = e->key();
    if (key.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), key.begin())) {
      break;
    }
    f(*e);
  }
}

}  // namespace

void listKeyDifferences(store::QbxStore& s, const records::QbxTableDef& def,
                        const records::QbxKeyDef& key, std::uint32_t mark,
                        const std::string& keyName, ProblemLog& log) {
  auto counts = [mark](std::uint32_t n) { return mark == 0 || n < mark; };
  std::vector<Entry> formed;
  std::vector<std::uint8_t> scratch;
  Entry entry;
  const auto dataPrefix = records::tablePrefix(def.tableNumber, records::kKindDataRecord);
  forEachWithPrefix(s, dataPrefix, [&](const store::QbxEntry& e) {
    if (e.keyLength != records::kDataRecordKeySize || e.data().size() != def.recordLength) return;
    const std::uint32_t n = records::trailingRecordNumber(e.key());
    if (!counts(n)) return;
    if (formRecordEntry(def, key, programImage(def, e.data(), scratch), n, entry)) {
      formed.push_back(entry);
    }
  });
  std::vector<Entry> held;
  const auto keyPrefix = records::tablePrefix(def.tableNumber, key.keyNumber);
  forEachWithPrefix(s, keyPrefix, [&](const store::QbxEntry& e) {
    if (counts(records::trailingRecordNumber(e.all())))
      held.emplace_back(e.all().begin(), e.all().end());
  });
  std::sort(formed.begin(), formed.end());
  std::sort(held.begin(), held.end());

  const std::string missingKind = keyName + ": records without their entry";
  const std::string extraKind = keyName + ": entries no record forms";
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < formed.size() || j < held.size()) {
    if (j == held.size() || (i < formed.size() && formed[i] < held[j])) {
      log.repeated(missingKind, keyName + ": record " +
                                    std::to_string(records::trailingRecordNumber(formed[i])) +
                                    " has no entry for its value");
      ++i;
    } else if (i == formed.size() || held[j] < formed[i]) {
      log.repeated(extraKind, keyName + ": an entry names record " +
                                  std::to_string(records::trailingRecordNumber(held[j])) +
                                  ", whose record does not form it");
      ++j;
    } else {
      ++i;
      ++j;
    }
  }
}

}  // namespace qbx::inspector
