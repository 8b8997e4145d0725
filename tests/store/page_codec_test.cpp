#include "qbx/store/page_codec.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "platform/endian.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/page_tree.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

// A cached page built by hand, freeing its entries at the end.
struct Page : QbxPage {
  explicit Page(std::uint8_t pageLevel = 0) { level = pageLevel; decoded = true; }
  ~Page() { freeTree(tree); }
  void add(const Bytes& key, const Bytes& data = {}, std::uint32_t childPage = 0) {
    EntryPtr e = makeEntry(key, data);
    e->child = childPage;
    inPageInsert(tree, e.get());
    (void)e.release();
    sizeEstimate = computeSizeEstimate(*this);
  }
  std::vector<Bytes> keys() {
    std::vector<Bytes> out;
    for (QbxEntry* e = leftmost(tree); e != nullptr; e = inTreeSuccessor(e)) {
      out.emplace_back(e->key().begin(), e->key().end());
    }
    return out;
  }
};

Bytes encoded(const Page& page) {
  Bytes image = encodePage(page);
  writeBlockFields(page, image);
  return image;
}

TEST(PageEncoding, EmptyKeyEntryPage) {
  Page page;
  page.add({});
  const Bytes image = encoded(page);
  ASSERT_EQ(image.size(), 256u);
  EXPECT_EQ(platform::loadLe32(image, 0), 512u);
  EXPECT_EQ(platform::loadLe16(image, 4), 18);  // stored
  EXPECT_EQ(platform::loadLe16(image, 6), 18);  // expanded
  EXPECT_EQ(platform::loadLe16(image, 8), 18);  // size estimate
  EXPECT_EQ(platform::loadLe16(image, 10), 1);  // entry count
  EXPECT_EQ(image[12], 0);                      // level
  EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 18), (Bytes{0xC0, 0, 0, 0, 0}));
  for (std::size_t i = 18; i < image.size(); ++i) ASSERT_EQ(image[i], 0xB0) << i;
}

TEST(PageEncoding, PrefixEncodingOfNeighbours) {
  Page page;
  page.add({'A', 'B'}, {'x'});
  page.add({'A', 'C'}, {'x'});      // same lengths, one shared byte
  page.add({'A', 'C', 'D'}, {'x'}); // both lengths change
  const Bytes image = encoded(page);
  const Bytes area(image.begin() + 13, image.begin() + platform::loadLe16(image, 4));
  EXPECT_EQ(area, (Bytes{0xC0, 3, 0, 2, 0, 'A', 'B', 'x',  //
                         0x01, 'C', 'x',                    //
                         0xC2, 4, 0, 3, 0, 'D', 'x'}));
}

TEST(PageEncoding, SharedCountStopsAtSixtyThree) {
  Page page;
  Bytes a(100, 'k');
  Bytes b = a;
  b.back() = 'l';
  page.add(a);
  page.add(b);
  const Bytes image = encoded(page);
  const std::size_t second = 13 + 5 + 100;
  EXPECT_EQ(image[second], 63);
  EXPECT_EQ(platform::loadLe16(image, 4), second + 1 + 100 - 63);
}

TEST(PageEncoding, CompressionOnlyWhenItSavesAUnit) {
  // 300 zero bytes compress far below one unit: kept.
  Page zeros;
  zeros.add({'K'}, Bytes(300, 0));
  Bytes image = encoded(zeros);
  EXPECT_EQ(image.size(), 256u);
  EXPECT_LT(platform::loadLe16(image, 4), platform::loadLe16(image, 6));
  EXPECT_EQ(Bytes(image.begin() + 13, image.begin() + 24),
            (Bytes{0x07, 0xC0, 0x2D, 0x01, 0x01, 0x00, 'K', 0x00, 0xAB, 0x02, 0x00}));
  // A run that saves a few bytes but no unit: stored as it is.
  Page few;
  Bytes data(200);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  std::fill_n(data.begin(), 8, 0);
  few.add({'K'}, data);
  image = encoded(few);
  EXPECT_EQ(platform::loadLe16(image, 4), platform::loadLe16(image, 6));
}

TEST(PageEncoding, RoundTripGivesABalancedTree) {
  Page page(1);
  for (std::uint32_t n = 0; n < 37; ++n) {
    Bytes key(1 + n % 5, 7);
    key[0] = static_cast<std::uint8_t>(n * 3);
    page.add(key, Bytes(n % 7, 9), 1000 + n);
  }
  const Bytes image = encoded(page);
  Page back;
  decodePage(back, image, static_cast<std::uint32_t>(image.size()));
  EXPECT_EQ(back.level, 1);
  EXPECT_EQ(back.sizeEstimate, page.sizeEstimate);
  EXPECT_EQ(back.keys(), page.keys());
  EXPECT_EQ(subtreeCount(back.tree->left), 18);
  EXPECT_EQ(subtreeCount(back.tree->right), 18);
  std::uint32_t expectedChild = 1000;
  for (QbxEntry* e = leftmost(back.tree); e != nullptr; e = inTreeSuccessor(e)) {
    EXPECT_EQ(e->child, expectedChild++);
  }
}

TEST(PageEncoding, SizeEstimateIsCheckedBeforeWriting) {
  Page page;
  page.add({'A'}, Bytes(50, 1));
  page.sizeEstimate = 40;  // below the 13 + 5 + 51 the entry needs
  EXPECT_EQ(internalErrorOf([&] { (void)encodePage(page); }), 1659);
}

// A leaf of two entries "B"/"x" and "C"/"y":
//   13: C0 02 00 01 00 'B' 'x'     20: 00 'C' 'y'     expanded 23, estimate 27
Bytes twoEntryLeaf() {
  Page page;
  page.add({'B'}, {'x'});
  page.add({'C'}, {'y'});
  return encoded(page);
}

// One entry 'K' + 300 zeros, compressed: area 07 C0 2D 01 01 00 4B 00 AB 02 00.
Bytes compressedLeaf() {
  Page page;
  page.add({'K'}, Bytes(300, 0));
  return encoded(page);
}

Bytes indexPage() {
  Page page(1);
  page.add({}, {}, 3);
  page.add({'M'}, {}, 4);
  return encoded(page);
}

struct Damage {
  const char* name;
  std::function<Bytes()> image;
  std::function<void(Bytes&)> damage;
  int error;
};

class DamagedImages : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedImages, RaiseTheirInternalError) {
  Bytes image = GetParam().image();
  GetParam().damage(image);
  Page page;
  EXPECT_EQ(internalErrorOf([&] { decodePage(page, image, 256); }), GetParam().error);
  EXPECT_EQ(page.tree, nullptr);
}

void set16(Bytes& b, std::size_t at, std::uint16_t v) { platform::storeLe16(b, at, v); }

INSTANTIATE_TEST_SUITE_P(
    Images, DamagedImages,
    ::testing::Values(
        Damage{"StoredLongerThanSlot", twoEntryLeaf, [](Bytes& b) { set16(b, 4, 300); }, 1477},
        Damage{"StoredShorterThanHeader", twoEntryLeaf, [](Bytes& b) { set16(b, 4, 10); }, 1477},
        Damage{"ChildNumbersOverrunStored", indexPage, [](Bytes& b) { set16(b, 10, 10); }, 1477},
        Damage{"LeafTurnedIndex", twoEntryLeaf, [](Bytes& b) { b[12] = 1; }, 1602},
        Damage{"StoredAboveExpanded", twoEntryLeaf, [](Bytes& b) { set16(b, 6, 20); }, 1602},
        Damage{"ExpandedBelowHeader", indexPage, [](Bytes& b) { set16(b, 6, 15); }, 1602},
        Damage{"EstimateBelowExpanded", twoEntryLeaf, [](Bytes& b) { set16(b, 8, 22); }, 1602},
        Damage{"CountTooHigh", twoEntryLeaf, [](Bytes& b) { set16(b, 10, 3); }, 1602},
        Damage{"CountTooLow", twoEntryLeaf, [](Bytes& b) { set16(b, 10, 1); }, 1602},
        Damage{"HugeCount", twoEntryLeaf, [](Bytes& b) { set16(b, 10, 0xFFFF); }, 1602},
        Damage{"FirstEntryLacksKeyLength", twoEntryLeaf, [](Bytes& b) { b[13] = 0x80; }, 1602},
        Damage{"FirstEntrySharesBytes", twoEntryLeaf, [](Bytes& b) { b[13] = 0xC1; }, 1602},
        Damage{"KeyLongerThanEntry", twoEntryLeaf, [](Bytes& b) { set16(b, 16, 3); }, 1602},
        Damage{"EntryBeyondMaximum", twoEntryLeaf, [](Bytes& b) { set16(b, 14, 0xFFFF); }, 1602},
        Damage{"EntryRunsPastExpanded", twoEntryLeaf, [](Bytes& b) { set16(b, 14, 200); }, 1602},
        Damage{"SharedBeyondPrevious", twoEntryLeaf, [](Bytes& b) { b[20] = 0x03; }, 1602},
        Damage{"KeysDescend", twoEntryLeaf, [](Bytes& b) { b[21] = 'A'; }, 1602},
        Damage{"KeysRepeat", twoEntryLeaf, [](Bytes& b) { b[21] = 'B'; }, 1602},
        Damage{"IndexPageWithoutEntries", indexPage, [](Bytes& b) { set16(b, 10, 0); }, 1602},
        Damage{"NegativeChildNumber", indexPage,
               [](Bytes& b) { platform::storeLe32(b, 17, 0x80000000u); }, 1735},
        Damage{"LiteralRunsPastStoredArea", compressedLeaf, [](Bytes& b) { b[13] = 0x7F; }, 522},
        Damage{"RepeatBeforeAnyByte", compressedLeaf, [](Bytes& b) { b[13] = 0; b[14] = 5; }, 530},
        Damage{"RepeatBeyondExpected", compressedLeaf, [](Bytes& b) { b[22] = 0x7F; }, 530}),
    [](const auto& param) { return std::string(param.param.name); });

// Damage on disk, seen through the store: a page that does not fit its slot,
// child numbers outside the regions or pointing back up, and a root whose
// level does not match its children. None may loop or read out of bounds.
class DamagedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("tree.QBX");
    auto store = openWriter(path_);
    for (std::uint32_t n = 1; n <= 100; ++n) insert(*store, numberedEntry(n, 4, 300));
    ASSERT_EQ(store->commit(), 0);
    root_ = store->header().rootPage();
    ASSERT_EQ(getRootPage(*store)->level, 1);
  }

  void patch(std::uint64_t offset, const Bytes& bytes) {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::uint64_t rootOffset() const { return 512 + 256 * static_cast<std::uint64_t>(root_); }
  static Bytes le32(std::uint32_t v) {
    Bytes b(4);
    platform::storeLe32(b, 0, v);
    return b;
  }

  int findError(std::uint32_t key) {
    QbxStore store;
    EXPECT_EQ(store.open(path_, 0x12, ""), 0);
    return internalErrorOf([&] { (void)find(store, *searchKey(key)); });
  }

  support::TempDir dir_;
  std::string path_;
  std::int32_t root_ = 0;
};

TEST_F(DamagedFile, ChildOutsideTheRegions) {
  patch(rootOffset() + 13, le32(999999));
  EXPECT_EQ(findError(1), 1735);
}

TEST_F(DamagedFile, ChildPointingAtTheRoot) {
  patch(rootOffset() + 13, le32(static_cast<std::uint32_t>(root_)));
  EXPECT_EQ(findError(1), 1602);
}

TEST_F(DamagedFile, RootLevelAboveItsChildren) {
  patch(rootOffset() + 12, {2});
  EXPECT_EQ(findError(1), 1602);
}

TEST_F(DamagedFile, StoredLengthNoLongerFitsTheSlot) {
  Bytes child(4);
  {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(rootOffset() + 13));
    in.read(reinterpret_cast<char*>(child.data()), 4);
  }
  const std::uint64_t leaf = 512 + 256 * std::uint64_t{platform::loadLe32(child, 0)};
  Bytes big(2);
  platform::storeLe16(big, 0, 15000);
  patch(leaf + 4, big);
  EXPECT_EQ(findError(1), 1477);
}

}  // namespace
}  // namespace qbx::store
