// Key building against the entries the records must have: BUILD after
// APPEND, a BUILD with nothing to do, refused duplicates and where the next
// BUILD starts, INDEXes, FULLBUILD with the collation saved anew, dynamic
// indexes with their component texts and filters, cancelling, a failing
// sort, and a build killed half way.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qbx/records/collation.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/key_build.h"
#include "qbx/records/sorter.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "table_fixture.h"

namespace qbx::records {
namespace {

using testing::kByAmount;
using testing::kByCity;
using testing::kById;
using testing::kByName;
using testing::Person;

constexpr std::size_t kDynamic = testing::kPeopleKeys;  // a DUP INDEX without components
constexpr std::uint32_t kFirstRecord = 2;              // table 1, then records 2, 3, ...

std::vector<Person> somePeople(int count) {
  std::vector<Person> people;
  for (int i = 0; i < count; ++i) {
    // Unique ids and amounts, repeated names, every third city blank.
    people.push_back({i + 1, "N" + std::to_string(i % 17), i % 3 == 0 ? "" : "C" + std::to_string(i),
                      (i * 37) % 1009});
  }
  return people;
}

class KeyBuild : public testing::PeopleTableTest {
 public:
  KeyBuild() { decl_.key({}, fileaccess::kKeyIndex | fileaccess::kKeyDup, "P:DYNAMIC"); }
  void TearDown() override { setRuntimeCollation(CollationBlock::defaults()); }

  void appendAll(const std::vector<Person>& people) {
    for (const Person& p : people) ASSERT_EQ(add(p, true), kOk);
  }
  StatusCounters status(std::size_t k) {
    const auto c = table_->keys().statusOf(key(k))->read();
    EXPECT_TRUE(c.has_value());
    return c.value_or(StatusCounters{});
  }
  std::uint32_t mark(std::size_t k) { return status(k).counter2; }
  // The record numbers of a key's entries, in key order.
  std::vector<std::uint32_t> keyOrder(std::size_t k) {
    std::vector<std::uint32_t> order;
    TableKeys& keys = table_->keys();
    EntryBuffer at;
    for (const store::QbxEntry* e = keys.first(key(k)); e != nullptr; e = keys.after(key(k), at.key())) {
      at.setKey(e->key());
      order.push_back(trailingRecordNumber(e->all()));
    }
    return order;
  }
  QbxKeyDef& dynamicKey() { return def_->keys[kDynamic]; }
};

TEST_F(KeyBuild, BuildAfterAppendMakesEveryKeyCompleteAndLeavesIndexesAlone) {
  create();
  const std::vector<Person> people = somePeople(300);
  appendAll(people);
  for (std::size_t k : {kById, kByName, kByCity, kByAmount}) EXPECT_EQ(mark(k), kFirstRecord);

  ASSERT_EQ(buildFile(*table_, false, {}), kOk);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(mark(k), 0u) << "key " << k;
  EXPECT_EQ(status(kById).counter1, 300u);
  EXPECT_EQ(status(kByCity).counter1, 200u);  // blank cities have no entry
  testing::expectConsistentPeople(store(), table_->tableNumber());
  // The INDEX is not built with the file.
  EXPECT_EQ(mark(kByAmount), kFirstRecord);
  EXPECT_EQ(contents().entriesPerKey.count(kByAmount), 0u);

  // All of it was committed.
  table_->store().abandon();
  reopen();
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(mark(k), 0u) << "key " << k;
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(KeyBuild, BuildOfCompleteKeysWritesNothing) {
  create();
  appendAll(somePeople(50));
  ASSERT_EQ(buildFile(*table_, false, {}), kOk);
  ASSERT_EQ(store().commit(), 0);

  support::FaultFile faults;
  EXPECT_EQ(buildFile(*table_, false, {}), kOk);
  EXPECT_FALSE(store().changed());
  EXPECT_EQ(store().commit(), 0);
  EXPECT_EQ(faults.writes(), 0);
}

TEST_F(KeyBuild, RefusedDuplicatesKeepTheMarkAndTheNextBuildStartsThere) {
  create();
  std::vector<Person> people = somePeople(22);
  people[11].id = people[4].id;   // record 13 repeats the id of record 6
  people[16].id = people[8].id;   // record 18 repeats the id of record 10
  appendAll(people);

  EXPECT_EQ(buildFile(*table_, false, {}), kErrCreatesDuplicateKey);
  EXPECT_EQ(mark(kById), 13u);
  EXPECT_EQ(status(kById).counter1, 20u);
  // The build stopped at the key that failed; the keys after it wait.
  EXPECT_EQ(mark(kByName), kFirstRecord);

  // An entry of a record below the mark that is missing stays missing: the
  // next build reads from the mark, not from the first record.
  TableKeys& keys = table_->keys();
  set(people[0]);
  const store::QbxEntry* first = keys.findByValue(key(kById), buffer());
  ASSERT_NE(first, nullptr);
  store::deleteEntry(store(), store::find(store(), *store::copyKey(*first)));
  EXPECT_EQ(buildKey(*table_, key(kById), std::nullopt, {}), kErrCreatesDuplicateKey);
  EXPECT_EQ(mark(kById), 13u);
  EXPECT_EQ(keys.findByValue(key(kById), buffer()), nullptr);

  // Once the first holder of an id is gone, its repeat gets the entry.
  ASSERT_EQ(table_->getByNumber(6), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  EXPECT_EQ(buildKey(*table_, key(kById), std::nullopt, {}), kErrCreatesDuplicateKey);
  EXPECT_EQ(mark(kById), 18u);
  ASSERT_EQ(table_->getByNumber(10), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  EXPECT_EQ(buildKey(*table_, key(kById), std::nullopt, {}), kOk);
  EXPECT_EQ(mark(kById), 0u);
  set(people[11]);
  const store::QbxEntry* moved = keys.findByValue(key(kById), buffer());
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(trailingRecordNumber(moved->all()), 13u);
}

TEST_F(KeyBuild, AnIndexIsBuiltFromItsOwnMark) {
  create();
  appendAll(somePeople(40));
  ASSERT_EQ(buildKey(*table_, key(kByAmount), std::nullopt, {}), kOk);
  EXPECT_EQ(mark(kByAmount), 0u);
  EXPECT_EQ(status(kByAmount).counter1, 40u);
  // A new record only lowers the INDEX's mark; the next build adds it.
  ASSERT_EQ(add({100, "NEW", "", 5000}), kOk);
  EXPECT_EQ(mark(kByAmount), table_->currentRecord());
  ASSERT_EQ(buildKey(*table_, key(kByAmount), std::nullopt, {}), kOk);
  EXPECT_EQ(status(kByAmount).counter1, 41u);
  const std::vector<std::uint32_t> order = keyOrder(kByAmount);
  ASSERT_EQ(order.size(), 41u);
  EXPECT_EQ(order.back(), table_->currentRecord());  // the largest amount
}

TEST_F(KeyBuild, FullBuildSavesTheCollationAnewAndRebuildsFromScratch) {
  // The table is created under a collation that puts 'C' after 'Z'.
  CollationBlock odd = CollationBlock::defaults();
  std::swap(odd.bytes[kCollationSortWeights + 'C'], odd.bytes[kCollationSortWeights + 'Z']);
  setRuntimeCollation(odd);
  create();
  appendAll(somePeople(30));
  ASSERT_EQ(buildFile(*table_, false, {}), kOk);
  // A stray entry naming no record: an ordinary build leaves it.
  std::vector<std::uint8_t> stray = testing::be32(table_->tableNumber());
  stray.push_back(kById);
  for (std::uint8_t b : testing::signedKey(99999)) stray.push_back(b);
  store::insert(store(), store::makeEntry(stray, testing::be32(999)));
  ASSERT_EQ(buildFile(*table_, false, {}), kOk);
  EXPECT_EQ(contents().entriesPerKey.at(kById), 31u);

  setRuntimeCollation(CollationBlock::defaults());
  BuildSettings full;
  full.fullBuild = true;
  ASSERT_EQ(buildFile(*table_, false, full), kOk);
  // The key values are now those of the default collation, and only those.
  testing::expectConsistentPeople(store(), table_->tableNumber());
  EXPECT_EQ(status(kById).counter1, 30u);
  table_->store().abandon();
  reopen();
  ASSERT_TRUE(table_->sortTable().has_value());
  EXPECT_EQ(table_->sortTable()->block, CollationBlock::defaults());
}

TEST_F(KeyBuild, DynamicIndexComponentTexts) {
  create();
  appendAll(somePeople(5));
  struct Case {
    const char* text;
    int result;
    std::size_t components;
  };
  const Case cases[] = {
      {"P:AMOUNT", kOk, 1},
      {"  -P:AMOUNT ,  + p:name", kOk, 2},
      {"p:amount,P:NAME,P:ID", kOk, 3},
      {"P:AMOUNTS", kErrInvalidIndexString, 0},
      {"", kErrInvalidIndexString, 0},
      {"   ", kErrInvalidIndexString, 0},
      {"P:NAME,", kErrInvalidIndexString, 0},
      {"P:ID,,P:NAME", kErrInvalidIndexString, 0},
      {"*P:ID", kErrInvalidIndexString, 0},
      {"P:ID P:NAME", kErrInvalidIndexString, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(setDynamicComponents(*def_, dynamicKey(), "P:CITY"), kOk);
    EXPECT_EQ(setDynamicComponents(*def_, dynamicKey(), c.text), c.result);
    // A refused text leaves the components as they were.
    EXPECT_EQ(dynamicKey().components.size(), c.result == kOk ? c.components : 1u);
  }
  ASSERT_EQ(setDynamicComponents(*def_, dynamicKey(), " - p:amount , p:name"), kOk);
  ASSERT_EQ(dynamicKey().components.size(), 2u);
  EXPECT_TRUE(dynamicKey().components[0].descending);
  EXPECT_FALSE(dynamicKey().components[1].descending);
  EXPECT_EQ(dynamicKey().valueLength, 14u);
}

TEST_F(KeyBuild, DynamicIndexOrdersByItsComponentsAndIsRebuiltFromNothing) {
  create();
  std::vector<Person> people = somePeople(60);
  for (std::size_t i = 0; i < people.size(); ++i) people[i].amount = static_cast<int>(i % 7) * 10;
  appendAll(people);

  ASSERT_EQ(buildDynamicIndex(*table_, dynamicKey(), "-P:AMOUNT,+P:NAME", std::nullopt, {}), kOk);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t i = 0; i < people.size(); ++i) expected.push_back(kFirstRecord + i);
  std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
    const Person& x = people[a - kFirstRecord];
    const Person& y = people[b - kFirstRecord];
    if (x.amount != y.amount) return x.amount > y.amount;
    return x.name < y.name;
  });
  EXPECT_EQ(keyOrder(kDynamic), expected);
  EXPECT_EQ(status(kDynamic).counter1, 60u);
  // Its entries live in memory only: the file has none.
  EXPECT_EQ(contents().entriesPerKey.count(kDynamic), 0u);

  // Built again with other components: the old entries are gone.
  ASSERT_EQ(buildDynamicIndex(*table_, dynamicKey(), "P:ID", std::nullopt, {}), kOk);
  EXPECT_EQ(keyOrder(kDynamic).size(), 60u);
  EXPECT_EQ(keyOrder(kDynamic).front(), kFirstRecord);

  // A misspelt name changes nothing.
  EXPECT_EQ(buildDynamicIndex(*table_, dynamicKey(), "P:IDD", std::nullopt, {}),
            kErrInvalidIndexString);
  EXPECT_EQ(keyOrder(kDynamic).size(), 60u);
}

TEST_F(KeyBuild, FilterKeepsTheRecordsItHoldsFor) {
  create();
  const std::vector<Person> people = somePeople(100);
  appendAll(people);
  struct Case {
    const char* filter;
    bool (*keep)(const Person&);
  };
  const Case cases[] = {
      {"P:AMOUNT >= 500", [](const Person& p) { return p.amount >= 500; }},
      {"P:NAME = 'N3' OR NOT (P:CITY <> '')", [](const Person& p) { return p.name == "N3" || p.city.empty(); }},
      // Texts that do not compile are no filter at all.
      {"P:AMOUNT >=", [](const Person&) { return true; }},
      {"P:NOSUCH = 1", [](const Person&) { return true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    ASSERT_EQ(buildDynamicIndex(*table_, dynamicKey(), "P:ID", std::string_view(c.filter), {}), kOk);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < people.size(); ++i) {
      if (c.keep(people[i])) expected.push_back(kFirstRecord + i);
    }
    EXPECT_EQ(keyOrder(kDynamic), expected);
    EXPECT_EQ(status(kDynamic).counter1, expected.size());
  }
}

// Answers the progress events of a deferred build, cancelling at one of them.
class CancelAt : public BuildProgress {
 public:
  explicit CancelAt(int event) : cancelAt_(event) {}
  int progress(std::uint32_t handled) override {
    seen.push_back(handled);
    return static_cast<int>(seen.size()) == cancelAt_ ? 1 : 0;
  }
  std::vector<std::uint32_t> seen;

 private:
  int cancelAt_;
};

TEST_F(KeyBuild, ProgressEventsComeEveryIntervalAndAnAnswerCancels) {
  create();
  appendAll(somePeople(1000));
  CancelAt cancel(2);
  BuildSettings deferred;
  deferred.progress = &cancel;
  EXPECT_EQ(buildFile(*table_, false, deferred), kErrBuildCancelled);
  EXPECT_EQ(cancel.seen, (std::vector<std::uint32_t>{128, 256}));
  // Nothing of the cancelled key went in; it and the keys after it wait.
  EXPECT_EQ(mark(kById), kFirstRecord);
  EXPECT_EQ(status(kById).counter1, 0u);
  EXPECT_EQ(contents().entriesPerKey.count(kById), 0u);
  EXPECT_EQ(mark(kByName), kFirstRecord);

  CancelAt never(0);
  deferred.progress = &never;
  deferred.interval = 2;
  ASSERT_EQ(buildKey(*table_, key(kById), std::nullopt, deferred), kOk);
  EXPECT_EQ(never.seen, (std::vector<std::uint32_t>{384, 512, 896}));
  EXPECT_EQ(status(kById).counter1, 1000u);
}

TEST(KeyBuildProgress, EventIntervalIsTheMaskOfTheNegatedCount) {
  struct Case {
    std::uint32_t handled;
    std::uint16_t interval;
    bool reported;
  };
  const Case cases[] = {
      {127, 1, false}, {128, 1, true},  {256, 1, true},   {129, 1, false},
      {128, 2, false}, {384, 2, true},  {512, 2, true},   {640, 2, false},
      {128, 0, true},  {25600, 100, true}, {128, 100, false}, {0xFFFFFF80u, 1, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reportsProgress(c.handled, c.interval), c.reported)
        << c.handled << " at interval " << c.interval;
  }
}

// A table whose one key has 204-byte sort items: 10000 records make the
// sort write three runs to its temporary file.
class BigKeyBuild : public ::testing::Test {
 public:
  static constexpr std::uint32_t kLength = 204;
  static constexpr std::uint32_t kRecords = 10000;

  void SetUp() override {
    fileaccess::FieldDescWriter w;
    w.group("").longField("B:ID").string("B:TEXT", 200).endGroup();
    decl_.emplace(testing::Declaration::of(w, kLength));
    decl_->key({2}, 0, "B:BYTEXT");
    def_ = decl_->build();
    ASSERT_TRUE(def_);
    TableOpenOptions options;
    options.create = true;
    ASSERT_EQ(QbxTable::open(*def_, path_, "UNNAMED", testing::kExclusiveCreate, options, &table_), kOk);
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      const std::span<std::uint8_t> record(def_->recordBuffer, kLength);
      platform::storeLe32(record, 0, i);
      char text[16];
      std::snprintf(text, sizeof text, "T%08u", (i * 7919u) % kRecords);
      testing::putText(record.subspan(4, 200), text);
      ASSERT_EQ(table_->add(true), kOk);
    }
    ASSERT_EQ(table_->store().commit(), 0);
  }

  // The writes of a sort of this build's items, counted by running one.
  static int sortWrites() {
    support::FaultFile counter;
    Sorter sorter(kLength);
    std::vector<std::uint8_t> item(kLength, 'x');
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      platform::storeBe32(item, kLength - 4, i);
      EXPECT_EQ(sorter.add(item), 0);
    }
    EXPECT_EQ(sorter.endInput(), 0);
    EXPECT_EQ(sorter.runCount(), 3u);
    return counter.writes();
  }

  void reopen() {
    table_.reset();
    ASSERT_EQ(QbxTable::open(*def_, path_, "UNNAMED", testing::kExclusive, {}, &table_), kOk);
  }
  const QbxKeyDef& key() { return def_->keys[0]; }
  StatusCounters status() { return table_->keys().statusOf(key())->read().value_or(StatusCounters{}); }
  std::size_t entries() {
    const auto c = testing::readContents(table_->store(), table_->tableNumber());
    return c.entriesPerKey.count(0) ? c.entriesPerKey.at(0) : 0;
  }
  void expectComplete() {
    EXPECT_EQ(status().counter1, kRecords);
    EXPECT_EQ(status().counter2, 0u);
    EXPECT_EQ(entries(), kRecords);
  }

  support::TempDir dir_;
  std::string path_ = dir_.file("big.QBX");
  std::optional<testing::Declaration> decl_;
  std::unique_ptr<QbxTableDef> def_;
  std::unique_ptr<QbxTable> table_;
};

TEST_F(BigKeyBuild, AFailedRunWriteFailsTheBuildAndTheNextBuildCompletesTheKey) {
  const int writes = sortWrites();
  ASSERT_GT(writes, 3);
  for (const int k : {1, writes / 2, writes}) {
    SCOPED_TRACE("run write " + std::to_string(k) + " of " + std::to_string(writes));
    {
      support::FaultFile faults;
      faults.failWrite(k, EIO);
      EXPECT_EQ(buildKey(*table_, key(), std::nullopt, {}), 29);
    }
    // Not a single entry went in, and the key is still marked from its start.
    EXPECT_EQ(status().counter1, 0u);
    EXPECT_EQ(status().counter2, kFirstRecord);
    EXPECT_EQ(entries(), 0u);
  }
  reopen();
  EXPECT_EQ(status().counter2, kFirstRecord);
  ASSERT_EQ(buildKey(*table_, key(), std::nullopt, {}), kOk);
  expectComplete();
}

TEST_F(BigKeyBuild, ABuildKilledHalfWayLeavesTheKeyMarkedFromItsStart) {
  const int sorting = sortWrites();
  table_.reset();
  // The build commits every 400 changed pages: the kills land in the first
  // intermediate commit and in a later one.
  for (const int afterSort : {50, 700}) {
    SCOPED_TRACE("killed at write " + std::to_string(sorting + afterSort));
    support::ChildProcess child([&](support::ChildChannel&) {
      std::unique_ptr<QbxTable> table;
      if (QbxTable::open(*def_, path_, "UNNAMED", testing::kExclusive, {}, &table) != kOk) return 1;
      support::FaultFile faults;
      faults.killAtWrite(sorting + afterSort);
      static_cast<void>(buildKey(*table, table->def().keys[0], std::nullopt, {}));
      return 2;
    });
    const support::ChildStatus end = child.wait();
    ASSERT_TRUE(end.killedBy(SIGKILL)) << end.describe();
    reopen();
    // Whatever was committed is counted, and the key waits for its rebuild.
    EXPECT_EQ(status().counter2, kFirstRecord);
    EXPECT_EQ(status().counter1, entries());
    table_.reset();
  }
  reopen();
  ASSERT_EQ(buildKey(*table_, key(), std::nullopt, {}), kOk);
  expectComplete();
}

}  // namespace
}  // namespace qbx::records
