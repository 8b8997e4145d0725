// The reading position: every state in both directions, the end tests and
// SKIP, key entries whose record has gone, and position texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "qbx/records/entry_keys.h"
#include "table_fixture.h"

namespace qbx::records {
namespace {

using testing::kById;
using testing::kByName;
using testing::Person;
using Numbers = std::vector<std::uint32_t>;

// Records 2 to 7 (the table is number 1). By name (a DUP key) the order is
// A3 A5 A7 B2 B6 C4; by id it is the file order.
class Positions : public testing::PeopleTableTest {
 public:
  void SetUp() override {
    PeopleTableTest::SetUp();
    create();
    const char* names[] = {"B", "A", "C", "A", "B", "A"};
    for (int i = 0; i < 6; ++i) ASSERT_EQ(add({10 * (i + 1), names[i], "", i}), kOk);
  }

  // Steps in fetch mode until 33 and lists the records read.
  Numbers readAll(Direction direction) {
    Numbers out;
    for (int guard = 0; guard < 20; ++guard) {
      const int result = table_->step(StepMode::kFetch, direction);
      if (result == kErrRecordNotAvailable) return out;
      EXPECT_EQ(result, kOk);
      out.push_back(table_->currentRecord());
      EXPECT_EQ(testing::readPerson(buffer()).id, static_cast<std::int32_t>(10 * (out.back() - 1)));
    }
    ADD_FAILURE() << "no end";
    return out;
  }

  // The value of the DUP name key or of the id key in the record buffer.
  void nameInBuffer(const std::string& name) { set({0, name, "", 0}); }
  void idInBuffer(std::int32_t id) { set({id, "", "", 0}); }

  // Takes a data record out of the file behind the keys' back, as a damaged
  // or half-seen file would have it: its key entries stay.
  void dropRecordOnly(std::uint32_t n) {
    store().enterWriterMode();
    store::QbxEntry* e = store::find(store(), *store::makeEntry(dataRecordKey(1, n)));
    ASSERT_NE(e, nullptr);
    store::deleteEntry(store(), e);
  }
};

struct StateCase {
  const char* name;
  std::function<void(Positions&)> set;
  Numbers forward;
  Numbers backward;
};

TEST_F(Positions, EveryStateInBothDirections) {
  const std::vector<StateCase> cases = {
      {"2 file", [](Positions& t) { t.table_->setFile(); }, {2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2}},
      {"3 record 4", [](Positions& t) { t.table_->setFileRecord(4); }, {4, 5, 6, 7}, {4, 3, 2}},
      {"3 past the last record",
       [](Positions& t) { t.table_->setFileRecord(100); },
       {7},
       {7, 6, 5, 4, 3, 2}},
      {"3 record 0 is state 2",
       [](Positions& t) { t.table_->setFileRecord(0); },
       {2, 3, 4, 5, 6, 7},
       {7, 6, 5, 4, 3, 2}},
      {"4 DUP value",
       [](Positions& t) {
         t.nameInBuffer("B");
         t.table_->setFileByKey(t.key(kByName));
       },
       {2, 3, 4, 5, 6, 7},
       {6, 5, 4, 3, 2}},
      {"4 unique value",
       [](Positions& t) {
         t.idInBuffer(30);
         t.table_->setFileByKey(t.key(kById));
       },
       {4, 5, 6, 7},
       {4, 3, 2}},
      {"4 absent unique value",
       [](Positions& t) {
         t.idInBuffer(35);
         t.table_->setFileByKey(t.key(kById));
       },
       {5, 6, 7},
       {4, 3, 2}},
      {"5 key",
       [](Positions& t) { t.table_->setKey(t.key(kByName)); },
       {3, 5, 7, 2, 6, 4},
       {4, 6, 2, 7, 5, 3}},
      {"6 value and record",
       [](Positions& t) {
         t.nameInBuffer("B");
         t.table_->setKeyValueRecord(t.key(kByName), 6);
       },
       {6, 4},
       {6, 2, 7, 5, 3}},
      {"6 value and absent record",
       [](Positions& t) {
         t.nameInBuffer("B");
         t.table_->setKeyValueRecord(t.key(kByName), 5);
       },
       {6, 4},
       {2, 7, 5, 3}},
      {"7 DUP value",
       [](Positions& t) {
         t.nameInBuffer("B");
         t.table_->setKeyValue(t.key(kByName));
       },
       {2, 6, 4},
       {6, 2, 7, 5, 3}},
      {"7 absent DUP value",
       [](Positions& t) {
         t.nameInBuffer("AB");
         t.table_->setKeyValue(t.key(kByName));
       },
       {2, 6, 4},
       {7, 5, 3}},
      {"7 unique value",
       [](Positions& t) {
         t.idInBuffer(30);
         t.table_->setKeyValue(t.key(kById));
       },
       {4, 5, 6, 7},
       {4, 3, 2}},
      {"8 record",
       [](Positions& t) { t.table_->setKeyRecord(t.key(kByName), 5); },
       {5, 7, 2, 6, 4},
       {5, 3}},
      {"8 absent record",
       [](Positions& t) { t.table_->setKeyRecord(t.key(kByName), 100); },
       {4},
       {4, 6, 2, 7, 5, 3}},
  };
  for (const StateCase& c : cases) {
    c.set(*this);
    EXPECT_EQ(readAll(Direction::kForward), c.forward) << c.name << " forward";
    c.set(*this);
    EXPECT_EQ(readAll(Direction::kBackward), c.backward) << c.name << " backward";
  }
}

TEST_F(Positions, ReadingOnChangesDirectionAtTheCurrentPlace) {
  table_->setKey(key(kByName));
  ASSERT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kOk);  // A3
  ASSERT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kOk);  // A5
  EXPECT_EQ(readAll(Direction::kBackward), Numbers{3});
  table_->setFile();
  ASSERT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kOk);  // 2
  ASSERT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kOk);  // 3
  EXPECT_EQ(readAll(Direction::kBackward), Numbers{2});
}

TEST_F(Positions, EndTestsAndSkipMoveWithoutReading) {
  table_->setFile();
  EXPECT_EQ(table_->step(StepMode::kTest, Direction::kForward), 0);
  table_->skip(3);  // 2, 3, 4
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{5, 6, 7}));
  EXPECT_EQ(table_->step(StepMode::kTest, Direction::kForward), 1);
  EXPECT_EQ(table_->step(StepMode::kTest, Direction::kBackward), 0);

  table_->setKey(key(kByName));
  table_->skip(-2);  // C4, B6
  EXPECT_EQ(readAll(Direction::kBackward), (Numbers{2, 7, 5, 3}));
  // Skipping past the end is quiet; the next read finds nothing.
  table_->setFile();
  table_->skip(50);
  EXPECT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kErrRecordNotAvailable);

  // From state 8 a move leaves the position at the record's key entry.
  table_->setKeyRecord(key(kByName), 7);
  table_->skip(1);
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{2, 6, 4}));
}

TEST_F(Positions, EmptyTableHasNowhereToGo) {
  table_->setFile();
  ASSERT_EQ(table_->empty(), kOk);
  table_->setFile();
  EXPECT_EQ(table_->step(StepMode::kTest, Direction::kForward), 1);
  EXPECT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kErrRecordNotAvailable);
  table_->setKey(key(kByName));
  EXPECT_EQ(table_->step(StepMode::kTest, Direction::kBackward), 1);
  table_->setFileRecord(5);
  EXPECT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kErrRecordNotAvailable);
}

TEST_F(Positions, KeyEntriesOfRecordsThatHaveGoneArePassedOver) {
  dropRecordOnly(6);  // B6
  dropRecordOnly(4);  // C4, the last entry by name
  table_->setKey(key(kByName));
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{3, 5, 7, 2}));
  nameInBuffer("B");
  table_->setKeyValue(key(kByName));
  EXPECT_EQ(readAll(Direction::kBackward), (Numbers{2, 7, 5, 3}));
  // From state 4 a gone record leaves the position in file order after it.
  nameInBuffer("C");
  table_->setFileByKey(key(kByName));
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{5, 7}));
  // From state 8 with no record, the last entry (C4) has gone too: the
  // position moves by that entry's own key, whatever the record buffer holds.
  nameInBuffer("A");
  table_->setKeyRecord(key(kByName), 100);
  EXPECT_EQ(readAll(Direction::kBackward), (Numbers{2, 7, 5, 3}));
}

TEST_F(Positions, FailedReadsLeaveTheRecordBufferAlone) {
  set({999, "KEEP", "ME", 1});
  const std::vector<std::uint8_t> before(buffer().begin(), buffer().end());
  table_->setFile();
  table_->skip(10);
  EXPECT_EQ(table_->step(StepMode::kFetch, Direction::kForward), kErrRecordNotAvailable);
  EXPECT_EQ(table_->getByNumber(99), kErrRecordNotFound);
  EXPECT_EQ(table_->getByKey(key(kById)), kErrRecordNotFound);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer().begin(), buffer().end()), before);
}

TEST_F(Positions, PositionTextsFindTheirRecordAgain) {
  // Record 5 is the second A: the key position tells it from records 3 and 7.
  ASSERT_EQ(table_->getByNumber(5), kOk);
  std::string filePosition;
  std::string keyPosition;
  table_->position(nullptr, filePosition);
  table_->position(&key(kByName), keyPosition);
  ASSERT_EQ(filePosition.size(), 4u);
  ASSERT_EQ(keyPosition.size(), 4u + key(kByName).valueLength);
  auto bytes = [](const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  set({});
  ASSERT_EQ(table_->getByPosition(key(kByName), bytes(keyPosition)), kOk);
  EXPECT_EQ(table_->currentRecord(), 5u);

  table_->resetKey(key(kByName), bytes(keyPosition));
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{5, 7, 2, 6, 4}));
  table_->resetFile(bytes(filePosition));
  EXPECT_EQ(readAll(Direction::kForward), (Numbers{5, 6, 7}));

  // Texts shorter than the position read as padded with zero bytes: they
  // find nothing, and nothing is read past their end.
  for (std::size_t length : {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{9}}) {
    const std::string shortText = keyPosition.substr(0, length);
    EXPECT_EQ(table_->getByPosition(key(kByName), bytes(shortText)), kErrRecordNotFound) << length;
    table_->resetKey(key(kByName), bytes(shortText));
    EXPECT_EQ(readAll(Direction::kForward), (Numbers{3, 5, 7, 2, 6, 4})) << length;
  }
  // The value with another record's number finds nothing (record 6 is a B).
  std::string other = keyPosition;
  other[3] = 6;
  EXPECT_EQ(table_->getByPosition(key(kByName), bytes(other)), kErrRecordNotFound);
}

}  // namespace
}  // namespace qbx::records
