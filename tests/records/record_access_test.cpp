// Data records: replace and remove with their record locks (held by another
// process), WATCH, the unchanged PUT, PUT by number, and the OEM form of
// stored records.
#include <gtest/gtest.h>

#include <chrono>

#include "qbx/records/entry_keys.h"
#include "support/child_process.h"
#include "table_fixture.h"

namespace qbx::records {
namespace {

using namespace std::chrono_literals;
using testing::kById;
using testing::kByName;
using testing::Person;

class RecordAccess : public testing::PeopleTableTest {
 protected:
  void SetUp() override {
    PeopleTableTest::SetUp();
    create();
    ASSERT_EQ(add({1, "ANN", "OSLO", 10}), kOk);  // record 2
    ASSERT_EQ(add({2, "BOB", "ROME", 20}), kOk);  // record 3
  }

  // A second declaration of the same file, open in this process.
  std::unique_ptr<QbxTable> openSecond(testing::Declaration& decl,
                                       std::unique_ptr<QbxTableDef>& def) {
    def = decl.build();
    std::unique_ptr<QbxTable> t;
    EXPECT_EQ(QbxTable::open(*def, path_, "UNNAMED", testing::kExclusive, {}, &t), kOk);
    return t;
  }
};

TEST_F(RecordAccess, WatchRefusesToOverwriteAChangeMadeSinceTheFetch) {
  testing::Declaration otherDecl = testing::peopleDeclaration();
  std::unique_ptr<QbxTableDef> otherDef;
  std::unique_ptr<QbxTable> other = openSecond(otherDecl, otherDef);

  table_->request(kWatchRequested);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  EXPECT_EQ(table_->flags() & (kWatching | kWatchRequested), kWatching);

  ASSERT_EQ(other->getByNumber(2), kOk);
  testing::writePerson({otherDef->recordBuffer, otherDef->recordLength}, {1, "ANN", "OSLO", 11});
  ASSERT_EQ(other->replace(), kOk);

  set({1, "ANNA", "OSLO", 10});
  EXPECT_EQ(table_->replace(), kErrRecordChanged);
  EXPECT_EQ(table_->flags() & kWatching, 0);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  EXPECT_EQ(current(), (Person{1, "ANN", "OSLO", 11}));
  // Without a change in between, the watched PUT goes through.
  table_->request(kWatchRequested);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  set({1, "ANNA", "OSLO", 10});
  EXPECT_EQ(table_->replace(), kOk);
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(RecordAccess, UnchangedPutRewritesNothingAndReleasesTheHold) {
  ASSERT_EQ(store().commit(), 0);
  table_->request(kHoldRequested);
  ASSERT_EQ(table_->getByNumber(3), kOk);
  EXPECT_NE(table_->flags() & kHeld, 0);
  EXPECT_EQ(table_->flags() & kRequestFlags, 0);
  EXPECT_EQ(table_->replace(), kOk);
  EXPECT_EQ(table_->flags() & kHeld, 0);
  EXPECT_FALSE(store().changed());
  EXPECT_EQ(store().dirtyPageCount(), 0u);
}

TEST_F(RecordAccess, PutByNumberAndOnNothing) {
  set({5, "CID", "LIMA", 30});
  ASSERT_EQ(table_->replace(3), kOk);  // record 3 without reading it first
  ASSERT_EQ(table_->getByNumber(3), kOk);
  EXPECT_EQ(current(), (Person{5, "CID", "LIMA", 30}));
  EXPECT_EQ(table_->replace(99), kErrRecordNotAvailable);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  EXPECT_EQ(table_->currentRecord(), 0u);
  EXPECT_EQ(table_->replace(), kErrRecordNotAvailable);
  EXPECT_EQ(table_->remove(), kErrRecordNotAvailable);
  EXPECT_EQ(table_->recordCount(), 1u);
  testing::expectConsistentPeople(store(), table_->tableNumber());
}

TEST_F(RecordAccess, ARecordHeldByAnotherProcessCannotBeHeldPutOrDeleted) {
  ASSERT_EQ(store().commit(), 0);
  table_.reset();
  support::ChildProcess child([this](support::ChildChannel& channel) {
    testing::Declaration d = testing::peopleDeclaration();
    auto def = d.build();
    std::unique_ptr<QbxTable> t;
    if (QbxTable::open(*def, path_, "UNNAMED", testing::kShared, {}, &t) != kOk) return 1;
    t->request(kHoldRequested);
    if (t->getByNumber(2) != kOk) return 2;
    // Only the record lock stays: the access ends as after any operation.
    if (t->store().endAccess() != 0) return 3;
    channel.send('h');
    if (!channel.expect('r', 20s)) return 4;
    t->releaseHold();
    channel.send('d');
    return channel.expect('q', 20s) ? 0 : 5;
  });
  ASSERT_TRUE(child.channel().expect('h', 20s));
  ASSERT_EQ(QbxTable::open(*def_, path_, "UNNAMED", testing::kShared, {}, &table_), kOk);

  set({});
  table_->request(kHoldRequested | kNoMemoRequested);
  EXPECT_EQ(table_->getByNumber(2), kErrRecordHeld);
  // The requests stay for the retry; the record buffer is untouched.
  EXPECT_EQ(table_->flags() & kRequestFlags, kHoldRequested | kNoMemoRequested);
  EXPECT_EQ(current(), Person{});
  table_->clearRequests();

  ASSERT_EQ(table_->getByNumber(2), kOk);  // reading without a hold is fine
  set({1, "ANN", "OSLO", 99});
  EXPECT_EQ(table_->replace(), kErrAccessDenied);
  EXPECT_EQ(table_->remove(), kErrRecordNotAvailable);
  ASSERT_EQ(store().endAccess(), 0);

  child.channel().send('r');
  ASSERT_TRUE(child.channel().expect('d', 20s));
  table_->request(kHoldRequested);
  ASSERT_EQ(table_->getByNumber(2), kOk);
  EXPECT_NE(table_->flags() & kHeld, 0);
  set({1, "ANN", "OSLO", 99});
  EXPECT_EQ(table_->replace(), kOk);
  ASSERT_EQ(store().commit(), 0);
  ASSERT_EQ(store().endAccess(), 0);
  child.channel().send('q');
  EXPECT_TRUE(child.wait().exitedWith(0));
}

TEST_F(RecordAccess, OemTablesStoreTheirTextInTheOemCodePage) {
  constexpr std::uint8_t kEAcute = 0xE9;     // Windows-1252
  constexpr std::uint8_t kEAcuteOem = 0x82;  // code page 437
  support::TempDir dir;
  const std::string path = dir.file("oem.QBX");
  testing::Declaration decl =
      testing::peopleDeclaration(fileaccess::kAttrCreate | fileaccess::kAttrOem);
  auto def = decl.build();
  ASSERT_TRUE(def->isOem());
  std::unique_ptr<QbxTable> t;
  TableOpenOptions create;
  create.create = true;
  ASSERT_EQ(QbxTable::open(*def, path, "UNNAMED", testing::kExclusiveCreate, create, &t), kOk);
  const std::span<std::uint8_t> buffer(def->recordBuffer, def->recordLength);
  testing::writePerson(buffer, {1, "REN\xC9", "S\xE9VRES", 1});
  buffer[5] = kEAcute;
  ASSERT_EQ(t->add(false), kOk);
  ASSERT_EQ(t->add(false), kErrCreatesDuplicateKey);
  const testing::TableContents stored = testing::readContents(t->store(), t->tableNumber());
  ASSERT_EQ(stored.records.size(), 1u);
  const testing::Bytes& image = stored.records.begin()->second;
  EXPECT_EQ(image[5], kEAcuteOem);
  EXPECT_EQ(image[15], kEAcuteOem);
  EXPECT_EQ(image[0], 1);  // the LONG stays as it is
  ASSERT_EQ(t->store().commit(), 0);
  t.reset();

  // The sort table record keeps the attribute for a declaration without it.
  testing::Declaration plain = testing::peopleDeclaration();
  auto plainDef = plain.build();
  ASSERT_EQ(QbxTable::open(*plainDef, path, "UNNAMED", testing::kExclusive, {}, &t), kOk);
  EXPECT_TRUE(plainDef->isOem());
  ASSERT_EQ(t->getByNumber(2), kOk);
  const Person p = testing::readPerson({plainDef->recordBuffer, plainDef->recordLength});
  EXPECT_EQ(static_cast<std::uint8_t>(p.name[1]), kEAcute);
  EXPECT_EQ(p.city, "S\xE9VRES");
  // Deleting it takes every key entry it had, formed from the same text.
  ASSERT_EQ(t->remove(), kOk);
  const testing::TableContents after = testing::readContents(t->store(), t->tableNumber());
  EXPECT_TRUE(after.records.empty());
  EXPECT_TRUE(after.keyEntries.empty());
  for (std::uint8_t k = 0; k < testing::kPeopleKeys; ++k) EXPECT_EQ(after.status.at(k).first, 0u);
}

}  // namespace
}  // namespace qbx::records
