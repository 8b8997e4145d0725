// Tables within one file: numbers from the file's counter, CREATE over an
// existing table, OPEN errors, COPY and RENAME within and across files with
// the record-number offset, REMOVE, EMPTY, the counter limit of COPY, shared
// stores by device and inode, and the collation a table keeps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "qbx/records/entry_keys.h"
#include "qbx/records/shared_stores.h"
#include "qbx/records/table_names.h"
#include "qbx/records/table_transfer.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "table_fixture.h"

namespace qbx::records {
namespace {

using testing::kById;
using testing::kByName;
using testing::Person;
using testing::TableContents;

// One declared people file: its declaration, definition and open table.
struct People {
  testing::Declaration decl = testing::peopleDeclaration();
  std::unique_ptr<QbxTableDef> def = decl.build();
  std::unique_ptr<QbxTable> table;

  int open(const std::string& file, const std::string& name, bool create = false,
           unsigned mode = testing::kExclusiveCreate) {
    TableOpenOptions options;
    options.create = create;
    return QbxTable::open(*def, file, name, mode, options, &table);
  }
  int add(const Person& p) {
    testing::writePerson({def->recordBuffer, def->recordLength}, p);
    return table->add(false);
  }
  Person current() const { return testing::readPerson({def->recordBuffer, def->recordLength}); }
  int close() {
    const int result = table->store().commit();
    table.reset();
    return result;
  }
};

class TablesInFile : public ::testing::Test {
 protected:
  // A closed table of `count` people in the file.
  void makeTable(const std::string& file, const std::string& name, int count, int firstId = 0) {
    People p;
    ASSERT_EQ(p.open(file, name, true), kOk);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(p.add({firstId + i, "N" + std::to_string(i % 3),
                       i % 2 ? "C" + std::to_string(i) : "", i}),
                kOk);
    }
    ASSERT_EQ(p.close(), 0);
  }

  // The contents of a table read through a store use of the file.
  TableContents contentsOf(const std::string& file, const std::string& name,
                           std::uint32_t* number = nullptr) {
    StoreUse use;
    EXPECT_EQ(acquireStore(file, testing::kExclusive, "", &use), 0);
    if (!use) return {};
    const auto n = findTableNumber(*use, name);
    if (number != nullptr) *number = n.value_or(0);
    if (!n) return {};
    TableContents c = testing::readContents(*use, *n);
    testing::expectConsistentPeople(*use, *n);
    return c;
  }

  std::uint32_t counterOf(const std::string& file) {
    StoreUse use;
    EXPECT_EQ(acquireStore(file, testing::kExclusive, "", &use), 0);
    EXPECT_EQ(use->refreshHeader(true), 0);
    return numberCounter(*use);
  }

  support::TempDir dir_;
  std::string file_ = dir_.file("cat.QBX");
  std::string other_ = dir_.file("other.QBX");
};

TEST_F(TablesInFile, NumbersComeFromTheFileCounterAndAreNeverReused) {
  People p;
  ASSERT_EQ(p.open(file_, "UNNAMED", true), kOk);
  EXPECT_EQ(p.table->tableNumber(), 1u);
  for (std::uint32_t expected : {2u, 3u, 4u}) {
    ASSERT_EQ(p.add({static_cast<std::int32_t>(expected), "A", "", 0}), kOk);
    EXPECT_EQ(p.table->currentRecord(), expected);
  }
  ASSERT_EQ(p.table->getByNumber(4), kOk);
  ASSERT_EQ(p.table->remove(), kOk);
  ASSERT_EQ(p.add({9, "A", "", 0}), kOk);
  EXPECT_EQ(p.table->currentRecord(), 5u);
  // EMPTY keeps the table's number and the counter.
  ASSERT_EQ(p.table->empty(), kOk);
  EXPECT_EQ(p.table->recordCount(), 0u);
  ASSERT_EQ(p.add({9, "A", "", 0}), kOk);
  EXPECT_EQ(p.table->currentRecord(), 6u);
  EXPECT_EQ(p.table->tableNumber(), 1u);
}

TEST_F(TablesInFile, OpenFindsTheTableOrSaysWhyNot) {
  makeTable(file_, "UNNAMED", 3);
  People p;
  EXPECT_EQ(p.open(file_, "MISSING", false), kErrFileNotFound);
  EXPECT_EQ(p.open(dir_.file("nofile.QBX"), "UNNAMED", false, testing::kExclusive), 2);
  EXPECT_EQ(p.open(file_, std::string(kMaxTableNameLength + 1, 'X'), true), kErrInvalidFilename);

  // Another layout: OPEN refuses it, REMOVE does not mind.
  fileaccess::FieldDescWriter w;
  w.group("").longField("P:ID").string("P:NAME", 12).endGroup();
  testing::Declaration other = testing::Declaration::of(w, 16);
  auto otherDef = other.build();
  std::unique_ptr<QbxTable> t;
  EXPECT_EQ(QbxTable::open(*otherDef, file_, "UNNAMED", testing::kExclusive, {}, &t),
            kErrInvalidRecordDeclaration);
  EXPECT_EQ(openStoreCount(), 0u);  // the failed open let the file go again

  // A declaration without a record layout takes the stored one, and reads
  // records into a buffer of the stored length.
  testing::Declaration bare(std::vector<std::uint8_t>{}, 0);
  auto bareDef = bare.build();
  ASSERT_EQ(QbxTable::open(*bareDef, file_, "UNNAMED", testing::kExclusive, {}, &t), kOk);
  EXPECT_EQ(bareDef->recordLength, testing::kPeopleLength);
  ASSERT_EQ(t->getByNumber(3), kOk);
  EXPECT_EQ(testing::readPerson({bareDef->recordBuffer, bareDef->recordLength}).id, 1);
  t.reset();
  EXPECT_EQ(bareDef->recordBuffer, bare.record().data());

  EXPECT_EQ(removeTable(*otherDef, file_, "UNNAMED"), kOk);
  EXPECT_NE(::access(file_.c_str(), F_OK), 0);  // its last table gone, the file went
}

TEST_F(TablesInFile, CreateReplacesOnlyTheTableOfItsName) {
  makeTable(file_, "A", 4);
  makeTable(file_, "B", 3, 100);
  std::uint32_t oldA = 0;
  ASSERT_EQ(contentsOf(file_, "A", &oldA).records.size(), 4u);
  makeTable(file_, "A", 1, 50);
  std::uint32_t newA = 0;
  const TableContents a = contentsOf(file_, "A", &newA);
  EXPECT_EQ(a.records.size(), 1u);
  EXPECT_GT(newA, oldA);
  EXPECT_TRUE(a.hasSortTable);
  EXPECT_EQ(contentsOf(file_, "B").records.size(), 3u);
  // Nothing of the old table is left under its number.
  StoreUse use;
  ASSERT_EQ(acquireStore(file_, testing::kExclusive, "", &use), 0);
  const TableContents old = testing::readContents(*use, oldA);
  EXPECT_TRUE(old.records.empty() && old.keyEntries.empty() && old.status.empty());
  EXPECT_EQ(old.definitionChunks, 0u);
}

TEST_F(TablesInFile, CopyShiftsEveryRecordNumberByOneOffset) {
  makeTable(file_, "A", 6);
  std::uint32_t a = 0;
  const TableContents source = contentsOf(file_, "A", &a);
  // The copy in another file keeps its keys, marks and positions in step.
  makeTable(other_, "UNNAMED", 2);
  const std::uint32_t counterBefore = counterOf(other_);
  {
    People p;
    ASSERT_EQ(p.open(file_, "A"), kOk);
    p.table->store().enterWriterMode();
    p.table->keys().statusOf(p.def->keys[kById])->setCounter2(5);  // out of date from record 5
    ASSERT_EQ(p.close(), 0);
  }
  People decl;
  ASSERT_EQ(copyTable(*decl.def, file_, "A", other_, "COPY", false), kOk);
  std::uint32_t t = 0;
  const TableContents copy = contentsOf(other_, "COPY", &t);
  EXPECT_EQ(t, counterBefore + 1);
  const std::uint32_t offset = counterBefore + 2;
  ASSERT_EQ(copy.records.size(), source.records.size());
  for (const auto& [n, image] : source.records) EXPECT_EQ(copy.records.at(n + offset), image) << n;
  EXPECT_EQ(copy.status.at(kById).second, 5 + offset);
  EXPECT_EQ(copy.status.at(kByName).second, 0u);  // a complete key stays complete
  EXPECT_EQ(copy.status.at(kStatusTableSelector).first, 6u);
  EXPECT_TRUE(copy.hasSortTable);
  EXPECT_EQ(copy.definitionChunks, source.definitionChunks);
  EXPECT_EQ(counterOf(other_), source.records.rbegin()->first + offset);
  // The source is as it was.
  EXPECT_EQ(contentsOf(file_, "A").records, source.records);

  // A position text of the copy finds its record by key.
  People c;
  ASSERT_EQ(c.open(other_, "COPY"), kOk);
  ASSERT_EQ(c.table->getByNumber(3 + offset), kOk);
  std::string position;
  c.table->position(&c.def->keys[kByName], position);
  ASSERT_EQ(c.table->getByPosition(
                c.def->keys[kByName],
                {reinterpret_cast<const std::uint8_t*>(position.data()), position.size()}),
            kOk);
  EXPECT_EQ(c.table->currentRecord(), 3 + offset);
}

TEST_F(TablesInFile, CopyWithinTheFileAndOntoAnExistingTable) {
  makeTable(file_, "A", 5);
  makeTable(file_, "B", 2, 100);
  People decl;
  ASSERT_EQ(copyTable(*decl.def, file_, "A", file_, "B", false), kOk);  // replaces B
  const TableContents a = contentsOf(file_, "A");
  const TableContents b = contentsOf(file_, "B");
  EXPECT_EQ(b.records.size(), 5u);
  EXPECT_EQ(a.records.size(), 5u);
  std::set<std::uint32_t> numbers;
  for (const auto& [n, image] : a.records) numbers.insert(n);
  for (const auto& [n, image] : b.records) EXPECT_EQ(numbers.count(n), 0u) << "number used twice";
  // A COPY onto itself changes nothing.
  ASSERT_EQ(copyTable(*decl.def, file_, "A", file_, "A", false), kOk);
  EXPECT_EQ(contentsOf(file_, "A").records, a.records);
}

TEST_F(TablesInFile, RenameWithinTheFileOnlyChangesTheName) {
  makeTable(file_, "A", 3);
  makeTable(file_, "B", 2, 100);
  std::uint32_t a = 0;
  const TableContents before = contentsOf(file_, "A", &a);
  People decl;
  EXPECT_EQ(copyTable(*decl.def, file_, "A", file_, "B", true), kErrAccessDenied);
  EXPECT_EQ(copyTable(*decl.def, file_, "MISSING", file_, "C", true), kErrFileNotFound);
  ASSERT_EQ(copyTable(*decl.def, file_, "A", file_, "C", true), kOk);
  std::uint32_t c = 0;
  EXPECT_EQ(contentsOf(file_, "C", &c).records, before.records);
  EXPECT_EQ(c, a);
  People p;
  EXPECT_EQ(p.open(file_, "A"), kErrFileNotFound);
  EXPECT_EQ(contentsOf(file_, "B").records.size(), 2u);
}

TEST_F(TablesInFile, RenameToAnotherFileMovesEveryEntryAndTheCollation) {
  makeTable(file_, "A", 4);
  makeTable(file_, "B", 2, 100);
  std::uint32_t a = 0;
  const TableContents before = contentsOf(file_, "A", &a);
  People decl;
  ASSERT_EQ(copyTable(*decl.def, file_, "A", other_, "MOVED", true), kOk);
  std::uint32_t moved = 0;
  const TableContents after = contentsOf(other_, "MOVED", &moved);
  EXPECT_EQ(after.records.size(), 4u);
  // The table keeps the collation its keys were formed with.
  EXPECT_TRUE(after.hasSortTable);
  StoreUse use;
  ASSERT_EQ(acquireStore(file_, testing::kExclusive, "", &use), 0);
  EXPECT_FALSE(findTableNumber(*use, "A").has_value());
  const TableContents left = testing::readContents(*use, a);
  EXPECT_TRUE(left.records.empty() && left.keyEntries.empty() && left.status.empty());
  EXPECT_FALSE(left.hasSortTable);
  EXPECT_EQ(left.definitionChunks, 0u);
  use.release();
  EXPECT_EQ(contentsOf(file_, "B").records.size(), 2u);
}

TEST_F(TablesInFile, RemoveKeepsTheOtherTablesAndTheLastTakesTheFile) {
  makeTable(file_, "A", 3);
  makeTable(file_, "B", 2, 100);
  People decl;
  EXPECT_EQ(removeTable(*decl.def, file_, "MISSING"), kErrFileNotFound);
  std::uint32_t a = 0;
  static_cast<void>(contentsOf(file_, "A", &a));
  ASSERT_EQ(removeTable(*decl.def, file_, "A"), kOk);
  {
    StoreUse use;
    ASSERT_EQ(acquireStore(file_, testing::kExclusive, "", &use), 0);
    const TableContents left = testing::readContents(*use, a);
    EXPECT_TRUE(left.records.empty() && left.status.empty() && !left.hasSortTable);
  }
  People b;
  ASSERT_EQ(b.open(file_, "B"), kOk);
  ASSERT_EQ(b.table->getByNumber(b.table->tableNumber() + 1), kOk);
  EXPECT_EQ(b.current().id, 100);
  b.table.reset();
  ASSERT_EQ(removeTable(*decl.def, file_, "B"), kOk);
  EXPECT_NE(::access(file_.c_str(), F_OK), 0);
}

TEST_F(TablesInFile, EmptyKeepsTheDefinitionAndTheCollation) {
  makeTable(file_, "A", 5);
  People p;
  ASSERT_EQ(p.open(file_, "A"), kOk);
  ASSERT_EQ(p.table->empty(), kOk);
  ASSERT_EQ(p.close(), 0);
  const TableContents c = contentsOf(file_, "A");
  EXPECT_TRUE(c.records.empty());
  EXPECT_TRUE(c.keyEntries.empty());
  EXPECT_TRUE(c.hasSortTable);
  EXPECT_GT(c.definitionChunks, 0u);
  EXPECT_EQ(c.status.size(), testing::kPeopleKeys + 1);
  for (const auto& [selector, counters] : c.status) {
    EXPECT_EQ(counters.first, 0u);
    EXPECT_EQ(counters.second, 0u);
  }
}

TEST_F(TablesInFile, CopyThatWouldPassTheLargestNumberIsRefusedBeforeAnyChange) {
  makeTable(file_, "A", 20);  // records 2 to 21
  makeTable(other_, "T", 1);
  makeTable(other_, "COPY", 1);  // a table the COPY would replace
  // Leave the target's counter near the limit.
  auto setCounter = [this](std::uint32_t value) {
    StoreUse use;
    ASSERT_EQ(acquireStore(other_, testing::kExclusive, "", &use), 0);
    use->enterWriterMode();
    ASSERT_EQ(use->refreshHeader(true), 0);
    setNumberCounter(*use, value);
    ASSERT_EQ(use->commit(), 0);
  };
  // Table number, offset, and then 21 + offset would be 0xFE000000.
  const std::uint32_t tooHigh = kLargestNumber - 2 - 21 + 1;
  setCounter(tooHigh);
  const TableContents targetBefore = contentsOf(other_, "COPY");
  People decl;
  EXPECT_EQ(copyTable(*decl.def, file_, "A", other_, "COPY", false), kErrAccessDenied);
  EXPECT_EQ(copyTable(*decl.def, file_, "A", other_, "NEW", true), kErrAccessDenied);
  EXPECT_EQ(counterOf(other_), tooHigh);
  EXPECT_EQ(contentsOf(other_, "COPY").records, targetBefore.records);
  EXPECT_EQ(contentsOf(file_, "A").records.size(), 20u);
  // One number lower fits exactly, and the counter ends at the largest number.
  setCounter(tooHigh - 1);
  ASSERT_EQ(copyTable(*decl.def, file_, "A", other_, "COPY", false), kOk);
  EXPECT_EQ(counterOf(other_), kLargestNumber);
  EXPECT_EQ(contentsOf(other_, "COPY").records.size(), 20u);
}

TEST_F(TablesInFile, TablesOfOnePhysicalFileShareOneStore) {
  makeTable(file_, "A", 1);
  makeTable(file_, "B", 1, 100);
  const std::string link = dir_.file("link.QBX");
  ASSERT_EQ(::link(file_.c_str(), link.c_str()), 0);
  const std::string upper = dir_.file("CAT.QBX");  // another file on Linux
  makeTable(upper, "A", 1);
  People a, b, c;
  ASSERT_EQ(a.open(file_, "A"), kOk);
  ASSERT_EQ(b.open(link, "B"), kOk);
  ASSERT_EQ(c.open(upper, "A"), kOk);
  EXPECT_EQ(&a.table->store(), &b.table->store());
  EXPECT_NE(&a.table->store(), &c.table->store());
  EXPECT_EQ(openStoreCount(), 2u);
  EXPECT_EQ(a.table->storeUse().users(), 2u);
  // A change through one table is seen through the other at once.
  ASSERT_EQ(a.add({7, "X", "", 0}), kOk);
  People a2;
  ASSERT_EQ(a2.open(link, "A"), kOk);
  EXPECT_EQ(a2.table->recordCount(), 2u);
  a.table.reset();
  a2.table.reset();
  b.table.reset();
  EXPECT_EQ(openStoreCount(), 1u);
  c.table.reset();
  EXPECT_EQ(openStoreCount(), 0u);
}

TEST_F(TablesInFile, AddToATableRemovedMeanwhileFailsAndLeavesNothing) {
  makeTable(file_, "A", 2);
  makeTable(file_, "B", 1, 100);
  People a;
  ASSERT_EQ(a.open(file_, "A"), kOk);
  const std::uint32_t number = a.table->tableNumber();
  People other;
  ASSERT_EQ(removeTable(*other.def, file_, "A"), kOk);  // through the shared store
  EXPECT_EQ(a.add({9, "LATE", "", 0}), kErrAccessDenied);
  const TableContents left = testing::readContents(a.table->store(), number);
  EXPECT_TRUE(left.records.empty() && left.keyEntries.empty() && left.status.empty());
}

TEST_F(TablesInFile, AnInternalErrorLeavesNoHalfMadeChangeToBeWritten) {
  makeTable(file_, "A", 2);
  try {
    People p;
    ASSERT_EQ(p.open(file_, "A"), kOk);
    ASSERT_EQ(p.add({50, "HALF", "", 0}), kOk);
    // A consistency failure in the middle of an operation: the last use of
    // the store goes while the error unwinds.
    store::raiseInternalError(store::kErrPageDecode);
  } catch (const store::InternalError& e) {
    EXPECT_EQ(e.number, store::kErrPageDecode);
  }
  EXPECT_EQ(openStoreCount(), 0u);
  EXPECT_EQ(contentsOf(file_, "A").records.size(), 2u);
}

TEST_F(TablesInFile, ATableKeepsTheCollationItWasCreatedWith) {
  // Created under settings that sort the letters backwards.
  CollationBlock reversed = CollationBlock::defaults();
  for (unsigned i = 'a'; i <= 'z'; ++i)
    reversed.bytes[kCollationSortWeights + i] = static_cast<std::uint8_t>('a' + 'z' - i);
  setRuntimeCollation(reversed);
  {
    People p;
    ASSERT_EQ(p.open(file_, "A", true), kOk);
    ASSERT_EQ(p.add({1, "b", "", 0}), kOk);
    ASSERT_EQ(p.add({2, "a", "", 0}), kOk);
    ASSERT_EQ(p.close(), 0);
  }
  setRuntimeCollation(CollationBlock::defaults());
  People p;
  ASSERT_EQ(p.open(file_, "A"), kOk);
  ASSERT_TRUE(p.table->sortTable().has_value());
  EXPECT_EQ(p.table->sortTable()->block, reversed);
  // Key order and GET by key follow the stored block, not today's settings.
  p.table->setKey(p.def->keys[kByName]);
  ASSERT_EQ(p.table->step(StepMode::kFetch, Direction::kForward), kOk);
  EXPECT_EQ(p.current().name, "b");
  testing::writePerson({p.def->recordBuffer, p.def->recordLength}, {0, "a", "", 0});
  ASSERT_EQ(p.table->getByKey(p.def->keys[kByName]), kOk);
  EXPECT_EQ(p.current().id, 2);
}

}  // namespace
}  // namespace qbx::records
