// Tables on real files for the record engine's tests: a small "people"
// layout with a unique, a DUP, an OPT, a NOCASE-and-descending and an INDEX
// key; its rows; and an independent reader that checks a table's key entries
// against the ones its records must have.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "declaration_fixture.h"
#include "platform/endian.h"
#include "qbx/records/format.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/result_codes.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"
#include "support/temp_dir.h"

namespace qbx::records::testing {

using Bytes = std::vector<std::uint8_t>;

// Read and write, deny all (no lock traffic), creating the file when missing.
inline constexpr unsigned kExclusive = 0x12;
inline constexpr unsigned kExclusiveCreate = 0x112;
// Read and write, deny none: for tests with another process.
inline constexpr unsigned kShared = 0x42;

// The layout: LONG id (0..4), STRING name(10) (4..14), STRING city(8)
// (14..22), LONG amount (22..26). Keys, in declaration order:
inline constexpr std::uint32_t kPeopleLength = 26;
inline constexpr std::size_t kById = 0;        // KEY id, unique
inline constexpr std::size_t kByName = 1;      // KEY name, DUP
inline constexpr std::size_t kByCity = 2;      // KEY city, unique, OPT
inline constexpr std::size_t kByCityDesc = 3;  // KEY city NOCASE, amount descending, DUP
inline constexpr std::size_t kByAmount = 4;    // INDEX amount, unique
inline constexpr std::size_t kPeopleKeys = 5;

inline Declaration peopleDeclaration(std::uint8_t attributes = fileaccess::kAttrCreate) {
  fileaccess::FieldDescWriter w;
  w.group("")
      .longField("P:ID")
      .string("P:NAME", 10)
      .string("P:CITY", 8)
      .longField("P:AMOUNT")
      .endGroup();
  Declaration d = Declaration::of(w, kPeopleLength);
  d.key({1}, 0, "P:BYID");
  d.key({2}, fileaccess::kKeyDup, "P:BYNAME");
  d.key({3}, fileaccess::kKeyOpt, "P:BYCITY");
  d.key({3, -4}, fileaccess::kKeyDup | fileaccess::kKeyNocase, "P:BYCITYDESC");
  d.key({4}, fileaccess::kKeyIndex, "P:BYAMOUNT");
  d.block().attributes = attributes;
  return d;
}

struct Person {
  std::int32_t id = 0;
  std::string name;
  std::string city;
  std::int32_t amount = 0;
  bool operator==(const Person&) const = default;
};

inline void putText(std::span<std::uint8_t> field, const std::string& text) {
  std::fill(field.begin(), field.end(), std::uint8_t{' '});
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

inline std::string takeText(std::span<const std::uint8_t> field) {
  std::string s(field.begin(), field.end());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

inline void writePerson(std::span<std::uint8_t> record, const Person& p) {
  platform::storeLe32(record, 0, static_cast<std::uint32_t>(p.id));
  putText(record.subspan(4, 10), p.name);
  putText(record.subspan(14, 8), p.city);
  platform::storeLe32(record, 22, static_cast<std::uint32_t>(p.amount));
}

inline Person readPerson(std::span<const std::uint8_t> record) {
  Person p;
  p.id = static_cast<std::int32_t>(platform::loadLe32(record, 0));
  p.name = takeText(record.subspan(4, 10));
  p.city = takeText(record.subspan(14, 8));
  p.amount = static_cast<std::int32_t>(platform::loadLe32(record, 22));
  return p;
}

// The key entries a table of the people layout must hold for its records,
// formed here by the rules of the format, apart from the engine's own key
// forming (default collation, no OEM attribute).
inline Bytes be32(std::uint32_t v) {
  Bytes b(4);
  platform::storeBe32(b, 0, v);
  return b;
}

inline Bytes signedKey(std::int32_t v) {
  Bytes b = be32(static_cast<std::uint32_t>(v));
  b[0] ^= 0x80;
  return b;
}

inline Bytes field(std::span<const std::uint8_t> record, std::size_t at, std::size_t size) {
  return Bytes(record.begin() + static_cast<std::ptrdiff_t>(at),
               record.begin() + static_cast<std::ptrdiff_t>(at + size));
}

// One key entry as (key part, data part).
using KeyEntryBytes = std::pair<Bytes, Bytes>;

inline std::set<KeyEntryBytes> expectedPeopleEntries(
    std::uint32_t table, const std::map<std::uint32_t, Bytes>& records) {
  std::set<KeyEntryBytes> out;
  auto prefix = [table](std::uint8_t key) {
    Bytes b = be32(table);
    b.push_back(key);
    return b;
  };
  auto append = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  for (const auto& [n, r] : records) {
    const Bytes id = signedKey(static_cast<std::int32_t>(platform::loadLe32(r, 0)));
    const Bytes name = field(r, 4, 10);
    const Bytes city = field(r, 14, 8);
    Bytes amountDesc = signedKey(static_cast<std::int32_t>(platform::loadLe32(r, 22)));
    for (auto& b : amountDesc) b = static_cast<std::uint8_t>(~b);
    Bytes cityLower = city;
    for (auto& b : cityLower) {
      if (b >= 'A' && b <= 'Z') b = static_cast<std::uint8_t>(b - 'A' + 'a');
    }
    out.insert({append(prefix(kById), id), be32(n)});
    out.insert({append(append(prefix(kByName), name), be32(n)), {}});
    if (!std::all_of(city.begin(), city.end(), [](std::uint8_t b) { return b == ' '; })) {
      out.insert({append(prefix(kByCity), city), be32(n)});
    }
    out.insert({append(append(append(prefix(kByCityDesc), cityLower), amountDesc), be32(n)), {}});
  }
  return out;
}

// Everything a table holds, read straight from its store's entries.
struct TableContents {
  std::map<std::uint32_t, Bytes> records;             // record number -> image
  std::set<KeyEntryBytes> keyEntries;                 // every key entry
  std::map<std::uint8_t, std::size_t> entriesPerKey;  // key number -> entry count
  std::map<std::uint8_t, std::pair<std::uint32_t, std::uint32_t>> status;  // selector -> counters
  bool hasSortTable = false;
  std::size_t definitionChunks = 0;
  std::size_t otherEntries = 0;
};

inline TableContents readContents(store::QbxStore& s, std::uint32_t table) {
  TableContents c;
  store::EntryPtr at = store::makeEntry(be32(table));
  for (const store::QbxEntry* e = store::next(s, *at);
       e != nullptr && e->keyLength >= 5 && platform::loadBe32(e->key(), 0) == table;
       e = store::next(s, *at)) {
    const Bytes key(e->key().begin(), e->key().end());
    const Bytes data(e->data().begin(), e->data().end());
    const std::uint8_t kind = key[4];
    if (kind <= kKindLastKey) {
      c.keyEntries.insert({key, data});
      ++c.entriesPerKey[kind];
    } else if (kind == kKindDataRecord && key.size() == 9) {
      c.records[platform::loadBe32(key, 5)] = data;
    } else if (kind == kKindStatus && key.size() == 6 && data.size() == 8) {
      c.status[key[5]] = {platform::loadLe32(data, 0), platform::loadLe32(data, 4)};
    } else if (kind == kKindSortTable) {
      c.hasSortTable = true;
    } else if (kind == kKindDefinitionChunk) {
      ++c.definitionChunks;
    } else {
      ++c.otherEntries;
    }
    at = store::copyKey(*e);
  }
  return c;
}

// Checks that the key entries of a people table are exactly those of its
// records, and that every KEY's counter and the record count agree.
inline void expectConsistentPeople(store::QbxStore& s, std::uint32_t table) {
  const TableContents c = readContents(s, table);
  EXPECT_EQ(c.keyEntries, expectedPeopleEntries(table, c.records));
  EXPECT_EQ(c.status.at(kStatusTableSelector).first, c.records.size());
  for (std::uint8_t k : {kById, kByName, kByCity, kByCityDesc}) {
    EXPECT_EQ(c.status.at(k).first, c.entriesPerKey.count(k) ? c.entriesPerKey.at(k) : 0u)
        << "key " << int{k};
  }
}

// A people table on a file of a fresh temporary directory.
class PeopleTableTest : public ::testing::Test {
 public:
  void SetUp() override {
    def_ = decl_.build();
    ASSERT_TRUE(def_);
  }

  void create(const std::string& table = "UNNAMED") {
    TableOpenOptions options;
    options.create = true;
    ASSERT_EQ(QbxTable::open(*def_, path_, table, kExclusiveCreate, options, &table_), kOk);
  }

  // Closes the table, committing, and opens it again.
  void reopen(const std::string& table = "UNNAMED") {
    if (table_) {
      ASSERT_EQ(table_->store().commit(), 0);
      table_.reset();
    }
    ASSERT_EQ(QbxTable::open(*def_, path_, table, kExclusive, {}, &table_), kOk);
  }

  std::span<std::uint8_t> buffer() { return {def_->recordBuffer, def_->recordLength}; }
  void set(const Person& p) { writePerson(buffer(), p); }
  Person current() { return readPerson(buffer()); }

  int add(const Person& p, bool defer = false) {
    set(p);
    return table_->add(defer);
  }

  const QbxKeyDef& key(std::size_t k) { return def_->keys[k]; }
  store::QbxStore& store() { return table_->store(); }
  TableContents contents() { return readContents(store(), table_->tableNumber()); }

  support::TempDir dir_;
  std::string path_ = dir_.file("people.QBX");
  Declaration decl_ = peopleDeclaration();
  std::unique_ptr<QbxTableDef> def_;
  std::unique_ptr<QbxTable> table_;
};

}  // namespace qbx::records::testing
