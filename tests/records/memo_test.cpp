// Memos and blobs of a table's records: the chunks they are stored as, PUT
// leaving stored chunks alone and cutting a shorter value, DELETE, WATCH
// against another process, NOMEMO, the OEM form, and damaged or oversized
// values.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "platform/global_memory.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/memo_table.h"
#include "support/child_process.h"
#include "table_fixture.h"

namespace qbx::records {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;

constexpr std::size_t kNotes = 0;  // MEMO(1000)
constexpr std::size_t kPhoto = 1;  // BLOB
constexpr std::size_t kRaw = 2;    // MEMO(300), BINARY
constexpr std::uint32_t kNotesSize = 1000;

// (memo number, chunk number) -> chunk data, read straight from the tree.
using Chunks = std::map<std::pair<int, int>, Bytes>;

Chunks storedChunks(store::QbxStore& s, std::uint32_t table, std::uint32_t n) {
  Chunks out;
  std::array<std::uint8_t, kTablePrefixSize + kRecordNumberSize> prefix{};
  putTablePrefix(prefix, table, kKindMemoChunk);
  platform::storeBe32(prefix, kTablePrefixSize, n);
  store::QbxEntry* e = store::next(s, *store::makeEntry(prefix));
  while (e != nullptr && e->keyLength == kMemoChunkKeySize &&
         std::equal(prefix.begin(), prefix.end(), e->key().begin())) {
    const auto k = e->key();
    out[{k[9], platform::loadBe16(k, 10)}] = Bytes(e->data().begin(), e->data().end());
    e = store::next(s, *e);
  }
  return out;
}

void declareMemos(testing::Declaration& d) {
  d.memo(kNotesSize, 0, "P:NOTES");
  d.memo(0, kMemoBlob, "P:PHOTO");
  d.memo(300, kMemoBinary, "P:RAW");
}

class Memos : public testing::PeopleTableTest {
 protected:
  void SetUp() override {
    declareMemos(decl_);
    PeopleTableTest::SetUp();
    create();
    memos_ = std::make_unique<TableMemos>(*table_);
  }
  void TearDown() override {
    memos_.reset();
    table_.reset();
  }

  void reopenWithMemos() {
    memos_.reset();
    reopen();
    memos_ = std::make_unique<TableMemos>(*table_);
  }

  char* buffer(std::size_t i) { return def_->memos[i].buffer.get(); }
  void setMemo(std::size_t i, const std::string& text) {
    std::memset(buffer(i), ' ', def_->memos[i].size);
    std::memcpy(buffer(i), text.data(), text.size());
  }
  std::string memo(std::size_t i) { return {buffer(i), def_->memos[i].size}; }
  static std::string padded(const std::string& text, std::size_t size) {
    return text + std::string(size - text.size(), ' ');
  }

  void setBlob(const Bytes& value) {
    platform::GlobalHandle h = 0;
    ASSERT_EQ(platform::globalAlloc(value.size(), &h), 0);
    if (!value.empty()) {
      std::memcpy(platform::globalLock(h), value.data(), value.size());
      ASSERT_EQ(platform::globalUnlock(h), 0);
    }
    ASSERT_EQ(memos_->takeBlob(kPhoto, h), kOk);
  }
  Bytes blob() {
    const std::size_t size = memos_->blobSize(kPhoto);
    if (size == 0) return {};
    const std::uint8_t* p = platform::globalLock(memos_->blobHandle(kPhoto));
    Bytes out(p, p + size);
    EXPECT_EQ(platform::globalUnlock(memos_->blobHandle(kPhoto)), 0);
    return out;
  }

  Chunks chunks(std::uint32_t n) { return storedChunks(store(), table_->tableNumber(), n); }

  std::unique_ptr<TableMemos> memos_;
};

Bytes blobChunk(std::uint32_t length, const Bytes& piece) {
  Bytes b(4 + piece.size());
  platform::storeLe32(b, 0, length);
  std::copy(piece.begin(), piece.end(), b.begin() + 4);
  return b;
}

TEST_F(Memos, ValuesAreCutIntoChunksAndReadBack) {
  const std::string s300(300, 'x');
  const Bytes b256(256, 0xAB);
  const Bytes b257(257, 0xCD);
  struct Case {
    const char* what;
    std::string notes;
    Bytes photo;
    Chunks expected;
  };
  const std::vector<Case> cases = {
      {"spaces only, empty blob", "   ", {}, {}},
      {"memo of 300", s300, {}, {{{0, 0}, Bytes(256, 'x')}, {{0, 1}, Bytes(44, 'x')}}},
      {"trailing spaces dropped", "ab  c   ", {}, {{{0, 0}, Bytes{'a', 'b', ' ', ' ', 'c'}}}},
      {"blob of 256 in one chunk of 260", "", b256, {{{1, 0}, blobChunk(256, b256)}}},
      {"blob of 257",
       "",
       b257,
       {{{1, 0}, blobChunk(257, Bytes(256, 0xCD))}, {{1, 1}, Bytes(1, 0xCD)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setMemo(kNotes, c.notes);
    setBlob(c.photo);
    const auto id = static_cast<std::int32_t>(table_->currentRecord());
    ASSERT_EQ(add({id, "A", "", id}), kOk);
    const std::uint32_t n = table_->currentRecord();
    EXPECT_EQ(chunks(n), c.expected);
    setMemo(kNotes, "other");
    setBlob({1, 2, 3});
    ASSERT_EQ(table_->getByNumber(n), kOk);
    EXPECT_EQ(memo(kNotes), padded(c.notes, kNotesSize));
    EXPECT_EQ(blob(), c.photo);
    if (c.photo.empty()) {
      EXPECT_EQ(memos_->blobHandle(kPhoto), 0u);
    }
  }
}

TEST_F(Memos, PutCutsAShortenedMemoAndLeavesUnchangedChunksAlone) {
  setMemo(kNotes, std::string(300, 'm'));
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  reopenWithMemos();

  // Nothing changed: the PUT writes no page.
  ASSERT_EQ(table_->getByNumber(n), kOk);
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_FALSE(store().changed());
  EXPECT_EQ(store().dirtyPageCount(), 0u);

  ASSERT_EQ(table_->getByNumber(n), kOk);
  setMemo(kNotes, std::string(100, 'm'));
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(chunks(n), (Chunks{{{0, 0}, Bytes(100, 'm')}}));
  reopenWithMemos();
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(memo(kNotes), padded(std::string(100, 'm'), kNotesSize));
}

TEST_F(Memos, DeleteRemovesOnlyTheChunksOfItsRecord) {
  std::vector<std::uint32_t> numbers;
  for (int i = 0; i < 3; ++i) {
    setMemo(kNotes, std::string(600, static_cast<char>('a' + i)));
    setMemo(kRaw, "raw");
    setBlob(Bytes(10, static_cast<std::uint8_t>(i)));
    ASSERT_EQ(add({i, "A", "", i}), kOk);
    numbers.push_back(table_->currentRecord());
  }
  const Chunks first = chunks(numbers[0]);
  const Chunks last = chunks(numbers[2]);
  ASSERT_EQ(first.size(), 5u);
  ASSERT_EQ(table_->getByNumber(numbers[1]), kOk);
  ASSERT_EQ(table_->remove(), kOk);
  EXPECT_TRUE(chunks(numbers[1]).empty());
  EXPECT_EQ(chunks(numbers[0]), first);
  EXPECT_EQ(chunks(numbers[2]), last);
}

TEST_F(Memos, NoMemoLeavesTheBuffersAndPutThenWritesNoMemo) {
  setMemo(kNotes, "stored");
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  setMemo(kNotes, "in the buffer");
  table_->request(kNoMemoRequested);
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_NE(table_->flags() & kMemosNotLoaded, 0);
  EXPECT_EQ(memo(kNotes), padded("in the buffer", kNotesSize));
  set({1, "B", "", 1});
  ASSERT_EQ(table_->replace(), kOk);
  EXPECT_EQ(chunks(n), (Chunks{{{0, 0}, Bytes{'s', 't', 'o', 'r', 'e', 'd'}}}));
  // The next plain fetch loads again.
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(memo(kNotes), padded("stored", kNotesSize));
}

TEST_F(Memos, OemTablesConvertMemosButNotBinaryOnes) {
  constexpr char kEAcute = '\xE9';     // Windows-1252
  constexpr std::uint8_t kOem = 0x82;  // code page 437
  memos_.reset();
  table_.reset();
  testing::Declaration d = testing::peopleDeclaration(fileaccess::kAttrCreate | fileaccess::kAttrOem);
  declareMemos(d);
  def_ = d.build();
  path_ = dir_.file("oem.QBX");
  create();
  memos_ = std::make_unique<TableMemos>(*table_);
  setMemo(kNotes, std::string(1, kEAcute));
  setMemo(kRaw, std::string(1, kEAcute));
  setBlob({static_cast<std::uint8_t>(kEAcute)});
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  EXPECT_EQ(chunks(n), (Chunks{{{0, 0}, Bytes{kOem}},
                               {{1, 0}, blobChunk(1, Bytes{kOem})},
                               {{2, 0}, Bytes{0xE9}}}));
  setMemo(kNotes, "");
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(memo(kNotes)[0], kEAcute);
  EXPECT_EQ(memo(kRaw)[0], kEAcute);
  EXPECT_EQ(blob(), Bytes{0xE9});
  // The definition links into d: it goes first.
  memos_.reset();
  table_.reset();
  def_.reset();
}

// Chunks as a damaged or foreign file may hold them.
TEST_F(Memos, LoadingIsBoundedByTheMemoAndTheBlobLength) {
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  const std::uint32_t t = table_->tableNumber();
  // Five full chunks for a memo of 1000 bytes; a 2-byte first blob chunk.
  for (std::uint16_t j = 0; j < 5; ++j) {
    store::insert(store(), store::makeEntry(memoChunkKey(t, n, kNotes, j), Bytes(256, 'z')));
  }
  store::insert(store(), store::makeEntry(memoChunkKey(t, n, kPhoto, 0), Bytes{1, 2}));
  // A binary memo of 300 whose chunks stop short.
  store::insert(store(), store::makeEntry(memoChunkKey(t, n, kRaw, 0), Bytes(10, 'r')));
  setBlob({9});
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(memo(kNotes), std::string(kNotesSize, 'z'));
  EXPECT_EQ(memos_->blobHandle(kPhoto), 0u);
  EXPECT_EQ(memo(kRaw), padded(std::string(10, 'r'), 300));

  // A blob length beyond its one chunk: the rest is spaces.
  store::deleteEntry(store(), store::find(store(), *store::makeEntry(memoChunkKey(t, n, kPhoto, 0))));
  store::insert(store(), store::makeEntry(memoChunkKey(t, n, kPhoto, 0), blobChunk(6, {7, 8})));
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(blob(), (Bytes{7, 8, ' ', ' ', ' ', ' '}));
}

TEST_F(Memos, ABlobTooLargeForItsChunkNumbersIsRefusedBeforeAnyChange) {
  setBlob({1});
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  const Chunks before = chunks(n);
  ASSERT_EQ(platform::globalReAlloc(memos_->blobHandle(kPhoto), kMaxBlobSize + 1), 0);
  EXPECT_EQ(add({2, "B", "", 2}), kErrBlobTooLarge);
  EXPECT_EQ(table_->recordCount(), 1u);

  ASSERT_EQ(table_->getByNumber(n), kOk);
  ASSERT_EQ(platform::globalReAlloc(memos_->blobHandle(kPhoto), kMaxBlobSize + 1), 0);
  set({1, "CHANGED", "", 1});
  EXPECT_EQ(table_->replace(), kErrBlobTooLarge);
  EXPECT_EQ(chunks(n), before);
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(testing::readPerson(table_->lastRead()).name, "A");

  // Taking such a block, or a handle the platform does not know, changes nothing.
  platform::GlobalHandle big = 0;
  ASSERT_EQ(platform::globalAlloc(kMaxBlobSize + 1, &big), 0);
  EXPECT_EQ(memos_->takeBlob(kPhoto, big), kErrBlobTooLarge);
  EXPECT_EQ(platform::globalFree(big), 0);
  EXPECT_EQ(memos_->takeBlob(kPhoto, 0x7FFF1234), 6);
  EXPECT_EQ(blob(), Bytes{1});

  // The largest blob fits, in 65536 chunks.
  ASSERT_EQ(platform::globalReAlloc(memos_->blobHandle(kPhoto), kMaxBlobSize), 0);
  ASSERT_EQ(table_->replace(), kOk);
  const Chunks stored = chunks(n);
  ASSERT_EQ(stored.size(), 65536u);
  EXPECT_EQ(stored.rbegin()->first, std::make_pair(1, 65535));
}

TEST_F(Memos, WatchSeesAMemoChangedByAnotherProcess) {
  setMemo(kNotes, "first");
  ASSERT_EQ(add({1, "A", "", 1}), kOk);
  const std::uint32_t n = table_->currentRecord();
  memos_.reset();
  ASSERT_EQ(store().commit(), 0);
  table_.reset();
  ASSERT_EQ(QbxTable::open(*def_, path_, "UNNAMED", testing::kShared, {}, &table_), kOk);
  memos_ = std::make_unique<TableMemos>(*table_);

  table_->request(kWatchRequested);
  ASSERT_EQ(table_->getByNumber(n), kOk);
  ASSERT_EQ(store().endAccess(), 0);

  support::ChildProcess child([this, n](support::ChildChannel&) {
    testing::Declaration d = testing::peopleDeclaration();
    declareMemos(d);
    auto def = d.build();
    std::unique_ptr<QbxTable> t;
    if (QbxTable::open(*def, path_, "UNNAMED", testing::kShared, {}, &t) != kOk) return 1;
    int rc = 0;
    {
      TableMemos m(*t);
      if (t->getByNumber(n) != kOk) return 2;
      std::memcpy(def->memos[kNotes].buffer.get(), "other", 5);
      if (t->replace() != kOk) return 3;
      rc = t->store().commit() == 0 ? 0 : 4;
    }
    return rc;
  });
  ASSERT_TRUE(child.wait().exitedWith(0));

  // The record image is the same; only its memo changed.
  setMemo(kNotes, "mine");
  EXPECT_EQ(table_->replace(), kErrRecordChanged);
  ASSERT_EQ(table_->getByNumber(n), kOk);
  EXPECT_EQ(memo(kNotes), padded("other", kNotesSize));
  // Watched again with nothing changed in between, the PUT goes through.
  table_->request(kWatchRequested);
  ASSERT_EQ(table_->getByNumber(n), kOk);
  setMemo(kNotes, "mine");
  EXPECT_EQ(table_->replace(), kOk);
  EXPECT_EQ(chunks(n), (Chunks{{{0, 0}, Bytes{'m', 'i', 'n', 'e'}}}));
  ASSERT_EQ(store().commit(), 0);
  ASSERT_EQ(store().endAccess(), 0);
}

}  // namespace
}  // namespace qbx::records
