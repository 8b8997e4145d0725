// Key upkeep on ADD, APPEND, PUT and DELETE, checked against the entries
// that the records must have: duplicates with their undo, DUP ordering, OPT
// blanks, deferred keys and their out-of-date marks, and the counters.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "table_fixture.h"

namespace qbx::records {
namespace {

using testing::kByAmount;
using testing::kByCity;
using testing::kByCityDesc;
using testing::kById;
using testing::kByName;
using testing::Person;

class KeyUpkeep : public testing::PeopleTableTest {};

TEST_F(KeyUpkeep, DuplicateOfAUniqueKeyUndoesEveryKeyAndCounter) {
  create();
  ASSERT_EQ(add({1, "ANN", "OSLO", 10}), kOk);
  ASSERT_EQ(add({2, "BOB", "ROME", 20}), kOk);
  const testing::TableContents before = contents();

  // The id is new, so keys 0 and 1 change before key 2 (city) finds OSLO
  // taken: both are put back, the INDEX keeps its mark.
  EXPECT_EQ(add({3, "CID", "OSLO", 30}), kErrCreatesDuplicateKey);
  testing::TableContents after = contents();
  EXPECT_EQ(after.keyEntries, before.keyEntries);
  EXPECT_EQ(after.status, before.status);
  EXPECT_EQ(after.records, before.records);

  // A PUT that changes id and name before the city collides leaves the old
  // entries, counters and the stored record as they were.
  ASSERT_EQ(table_->getByNumber(3), kOk);  // record 3 is BOB
  set({7, "ZED", "OSLO", 99});
  EXPECT_EQ(table_->replace(), kErrCreatesDuplicateKey);
  after = contents();
  EXPECT_EQ(after.keyEntries, before.keyEntries);
  EXPECT_EQ(after.status, before.status);
  EXPECT_EQ(after.records, before.records);

  // The failed add used up its number.
  ASSERT_EQ(add({4, "DOT", "", 40}), kOk);
  EXPECT_EQ(table_->currentRecord(), 5u);
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(KeyUpkeep, DupValuesAreFoundAndOrderedByRecordNumber) {
  create();
  for (int i = 0; i < 4; ++i) ASSERT_EQ(add({i, i % 2 == 0 ? "SAME" : "OTHER", "", i}), kOk);
  // Records 2 and 4 share SAME; GET by the DUP key finds the lowest number.
  set({0, "SAME", "", 0});
  ASSERT_EQ(table_->getByKey(key(kByName)), kOk);
  EXPECT_EQ(table_->currentRecord(), 2u);
  // DELETE takes only the deleted record's own entry of the shared value.
  ASSERT_EQ(table_->remove(), kOk);
  set({0, "SAME", "", 0});
  ASSERT_EQ(table_->getByKey(key(kByName)), kOk);
  EXPECT_EQ(table_->currentRecord(), 4u);
  EXPECT_EQ(table_->keyEntryCount(key(kByName)), 3u);
  // DUP keys never report duplicates; unique ones do, except for the
  // record itself.
  EXPECT_FALSE(table_->isDuplicate(key(kByName), 0));
  EXPECT_FALSE(table_->isDuplicate(key(kById), 4));
  EXPECT_TRUE(table_->isDuplicate(key(kById), 0));
  EXPECT_TRUE(table_->anyDuplicate(3));
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(KeyUpkeep, PutMovesChangedEntriesAndTouchesNoOther) {
  create();
  ASSERT_EQ(add({1, "ANN", "OSLO", 10}), kOk);
  ASSERT_EQ(add({2, "ANN", "ROME", 20}), kOk);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  set({1, "ANN", "OSLO", 10});
  const testing::TableContents before = contents();
  // Only the amount changes: the city-and-amount key moves, the others stay.
  set({1, "ANN", "OSLO", 11});
  ASSERT_EQ(table_->replace(), kOk);
  const testing::TableContents after = contents();
  std::size_t changed = 0;
  for (const auto& e : before.keyEntries) changed += after.keyEntries.count(e) == 0 ? 1 : 0;
  EXPECT_EQ(changed, 1u);
  // The name moves within its DUP key.
  ASSERT_EQ(table_->getByNumber(2), kOk);
  set({1, "BEA", "OSLO", 11});
  ASSERT_EQ(table_->replace(), kOk);
  set({0, "BEA", "", 0});
  ASSERT_EQ(table_->getByKey(key(kByName)), kOk);
  EXPECT_EQ(table_->currentRecord(), 2u);
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(KeyUpkeep, OptBlankRecordsHaveNoEntryAndNeverDuplicate) {
  create();
  ASSERT_EQ(add({1, "ANN", "", 10}), kOk);
  ASSERT_EQ(add({2, "BOB", "", 20}), kOk);  // a second blank city is no duplicate
  EXPECT_EQ(table_->keyEntryCount(key(kByCity)), 0u);
  // The same blank has an entry in the key without OPT.
  EXPECT_EQ(table_->keyEntryCount(key(kByCityDesc)), 2u);
  set({9, "X", "", 0});
  EXPECT_FALSE(table_->isDuplicate(key(kByCity), 0));
  // Giving record 2 a city adds its entry; blanking it again removes it.
  ASSERT_EQ(table_->getByNumber(3), kOk);
  set({2, "BOB", "ROME", 20});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(table_->keyEntryCount(key(kByCity)), 1u);
  ASSERT_EQ(table_->getByNumber(3), kOk);
  set({2, "BOB", "", 20});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(table_->keyEntryCount(key(kByCity)), 0u);
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(KeyUpkeep, AppendDefersEveryKeyToTheFirstAppendedRecord) {
  create();
  ASSERT_EQ(add({1, "ANN", "OSLO", 10}), kOk);              // record 2, with its keys
  table_->keys().statusOf(key(kByAmount))->setCounter2(0);  // the INDEX built, as BUILD leaves it
  const testing::TableContents before = contents();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(add({100 + i, "APP", "", i}, true), kOk);
  const testing::TableContents after = contents();
  EXPECT_EQ(after.keyEntries, before.keyEntries);
  for (std::size_t k = 0; k < testing::kPeopleKeys; ++k) {
    const auto selector = static_cast<std::uint8_t>(k);
    EXPECT_EQ(after.status.at(selector).second, 3u) << "mark of key " << k;
    EXPECT_EQ(after.status.at(selector).first, before.status.at(selector).first) << "key " << k;
  }
  EXPECT_EQ(table_->recordCount(), 1001u);

  // A PUT or DELETE of an appended record, which has no entries yet, lowers
  // no counter: no entry was deleted.
  ASSERT_EQ(table_->getByNumber(500), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  ASSERT_EQ(table_->getByNumber(501), kOk);
  set({5000, "NEW", "", 1});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(table_->keyEntryCount(key(kById)), 2u);    // ANN, and 5000 put in
  EXPECT_EQ(table_->keyEntryCount(key(kByCity)), 1u);  // ANN only (blank city)
  // The marks stay at the first appended record.
  EXPECT_EQ(table_->keys().statusOf(key(kById))->counter2(), 3u);
}

TEST_F(KeyUpkeep, IndexOnlyLowersItsMark) {
  create();
  ASSERT_EQ(add({1, "ANN", "", 10}), kOk);
  ASSERT_EQ(add({2, "BOB", "", 20}), kOk);
  StatusRecord& index = *table_->keys().statusOf(key(kByAmount));
  EXPECT_EQ(index.counter2(), 2u);  // the first add marked it
  index.setCounter2(0);             // as a build would leave it
  // A PUT that leaves the INDEX's value alone does not mark it.
  ASSERT_EQ(table_->getByNumber(3), kOk);
  set({2, "BOX", "", 20});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(index.counter2(), 0u);
  // One that changes it lowers the mark to its record; a later record's
  // change keeps the lower mark.
  ASSERT_EQ(table_->getByNumber(3), kOk);
  set({2, "BOX", "", 21});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(index.counter2(), 3u);
  ASSERT_EQ(add({3, "CID", "", 30}), kOk);
  EXPECT_EQ(index.counter2(), 3u);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  EXPECT_EQ(index.counter2(), 2u);
  EXPECT_EQ(contents().entriesPerKey.count(kByAmount), 0u);
}

TEST(DynamicIndex, LivesInAPrivateStoreAndIsLeftToTheBuild) {
  support::TempDir dir;
  testing::Declaration decl = testing::peopleDeclaration();
  decl.key({}, fileaccess::kKeyIndex, "P:DYN");
  auto def = decl.build();
  ASSERT_TRUE(def->keys[5].isDynamic());
  std::unique_ptr<QbxTable> t;
  TableOpenOptions create;
  create.create = true;
  ASSERT_EQ(
      QbxTable::open(*def, dir.file("dyn.QBX"), "UNNAMED", testing::kExclusiveCreate, create, &t),
      kOk);
  const QbxKeyDef& dyn = def->keys[5];
  store::QbxStore* own = t->keys().storeOf(dyn);
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, &t->store());
  testing::writePerson({def->recordBuffer, def->recordLength}, {1, "ANN", "", 1});
  ASSERT_EQ(t->add(false), kOk);
  // Nothing of it in the file: no entries, no status record; it stays empty
  // and complete until a build fills it.
  const testing::TableContents c = testing::readContents(t->store(), t->tableNumber());
  EXPECT_EQ(c.entriesPerKey.count(5), 0u);
  EXPECT_EQ(c.status.count(5), 0u);
  EXPECT_EQ(t->keyEntryCount(dyn), 0u);
  EXPECT_EQ(t->keys().statusOf(dyn)->counter2(), 0u);
  testing::expectConsistentPeople(t->store(), t->tableNumber());
  // EMPTY gives it a fresh store as well.
  ASSERT_EQ(t->empty(), kOk);
  EXPECT_EQ(t->keyEntryCount(dyn), 0u);
}

// Random adds, replaces and deletes against a model of the table: after
// every step the key entries are exactly those of the records, and every
// result is the one the model expects.
TEST_F(KeyUpkeep, RandomChangesKeepTheKeysExactlyThoseOfTheRecords) {
  create();
  std::mt19937 rng(20240611);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"ANN", "BOB", "CID", "DOT"};
  const char* cities[] = {"", "OSLO", "Rome", "ROME", "LIMA", "KIEV", "BERN"};
  auto randomPerson = [&] {
    return Person{pick(12), names[pick(4)], cities[pick(7)], pick(5) - 2};
  };
  std::map<std::uint32_t, Person> model;
  auto collides = [&model](const Person& p, std::uint32_t self) {
    for (const auto& [n, q] : model) {
      if (n == self) continue;
      if (q.id == p.id) return true;
      if (!p.city.empty() && q.city == p.city) return true;
    }
    return false;
  };
  std::uint32_t nextNumber = 2;
  for (int stepNo = 0; stepNo < 600; ++stepNo) {
    const int action = model.empty() ? 0 : pick(3);
    if (action == 0) {
      const Person p = randomPerson();
      const int expected = collides(p, 0) ? kErrCreatesDuplicateKey : kOk;
      ASSERT_EQ(add(p), expected) << "step " << stepNo;
      if (expected == kOk) model[nextNumber] = p;
      ++nextNumber;
    } else {
      auto it = model.begin();
      std::advance(it, pick(static_cast<int>(model.size())));
      const std::uint32_t n = it->first;
      ASSERT_EQ(table_->getByNumber(n), kOk);
      ASSERT_EQ(current(), it->second);
      if (action == 1) {
        const Person p = randomPerson();
        const int expected = collides(p, n) ? kErrCreatesDuplicateKey : kOk;
        set(p);
        ASSERT_EQ(table_->replace(), expected) << "step " << stepNo;
        if (expected == kOk) it->second = p;
      } else {
        ASSERT_EQ(table_->remove(), kOk);
        model.erase(it);
      }
    }
    const testing::TableContents c = contents();
    ASSERT_EQ(c.records.size(), model.size());
    for (const auto& [n, image] : c.records) ASSERT_EQ(testing::readPerson(image), model.at(n));
    ASSERT_EQ(c.keyEntries, testing::expectedPeopleEntries(table_->tableNumber(), c.records))
        << "step " << stepNo;
    ASSERT_NO_FATAL_FAILURE(testing::expectConsistentPeople(store(), table_->tableNumber()));
    if (stepNo % 100 == 99) {
      ASSERT_NO_FATAL_FAILURE(reopen());
    }
  }
}

}  // namespace
}  // namespace qbx::records
