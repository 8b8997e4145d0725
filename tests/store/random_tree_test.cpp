// Many thousands of inserts and deletes, plain and through cursors, with
// entries from a few bytes to several kilobytes, checked against a std::map
// after commits that write every page and reopens that read them back.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "qbx/store/consistency_check.h"
#include "qbx/store/cursor.h"
#include "qbx/store/entry_tree.h"
#include "store_test_util.h"

namespace qbx::store {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

class Workload {
 public:
  explicit Workload(std::uint32_t seed) : rng_(seed) {}

  Bytes randomKey() {
    // A small alphabet and short lengths make neighbours share prefixes.
    Bytes key(1 + rng_() % 12);
    for (auto& b : key) b = static_cast<std::uint8_t>("\x00\x01\x02\x7F\x80\xFE\xFF"[rng_() % 7]);
    return key;
  }

  Bytes randomData() {
    const std::uint32_t pick = rng_() % 100;
    std::size_t length = pick < 80 ? rng_() % 60 : pick < 96 ? 100 + rng_() % 700 : 2000 + rng_() % 5000;
    Bytes data(length);
    if (rng_() % 2 == 0) {
      for (auto& b : data) b = static_cast<std::uint8_t>(rng_());
    } else {
      for (std::size_t i = 0; i < length; i += 1 + rng_() % 40) {
        std::fill(data.begin() + static_cast<std::ptrdiff_t>(i),
                  data.begin() + static_cast<std::ptrdiff_t>(std::min(length, i + 40)),
                  static_cast<std::uint8_t>(rng_() % 3));
      }
    }
    return data;
  }

  std::uint32_t next() { return rng_(); }

 private:
  std::mt19937 rng_;
};

class Model {
 public:
  bool contains(const Bytes& key) const { return map_.count(key) != 0; }
  void add(const Bytes& key, const Bytes& data) {
    map_[key] = data;
    keys_.push_back(key);
  }
  Bytes takeRandom(std::uint32_t r) {
    const std::size_t i = r % keys_.size();
    Bytes key = keys_[i];
    keys_[i] = keys_.back();
    keys_.pop_back();
    map_.erase(key);
    return key;
  }
  bool empty() const { return keys_.empty(); }
  const Bytes& last() const { return map_.rbegin()->first; }
  const std::map<Bytes, Bytes>& map() const { return map_; }

 private:
  std::map<Bytes, Bytes> map_;
  std::vector<Bytes> keys_;
};

void expectTreeMatches(QbxStore& store, const Model& model) {
  QbxEntry* e = find(store, *makeEntry({}));
  ASSERT_NE(e, nullptr);
  auto it = model.map().begin();
  std::size_t seen = 0;
  while ((e = next(store, *e)) != nullptr) {
    ASSERT_NE(it, model.map().end()) << "extra entry after " << seen;
    ASSERT_EQ(Bytes(e->key().begin(), e->key().end()), it->first) << "entry " << seen;
    ASSERT_EQ(Bytes(e->data().begin(), e->data().end()), it->second) << "entry " << seen;
    ++it;
    ++seen;
  }
  EXPECT_EQ(it, model.map().end()) << "entries missing after " << seen;
  for (const std::string& p : checkConsistency(store)) ADD_FAILURE() << p;
}

TEST(RandomTree, MatchesAMapThroughCommitsAndReopens) {
  support::TempDir dir;
  const std::string path = dir.file("random.QBX");
  Workload w(20240601);
  Model model;
  auto store = openWriter(path);
  std::size_t inserted = 0;
  std::size_t deleted = 0;
  for (int round = 0; round < 24; ++round) {
    QbxCursor cursor(*store);
    for (int op = 0; op < 600; ++op) {
      const std::uint32_t pick = w.next() % 100;
      if (pick < 55 || model.empty()) {
        Bytes key = w.randomKey();
        if (model.contains(key)) continue;
        Bytes data = w.randomData();
        if (pick % 3 == 0) {
          cursor.insert(makeEntry(key, data));
          ASSERT_NE(cursor.fetch(), nullptr);
        } else {
          insert(*store, makeEntry(key, data));
        }
        model.add(key, data);
        ++inserted;
      } else if (pick < 92) {
        const Bytes key = model.takeRandom(w.next());
        if (pick % 2 == 0) {
          cursor.set(makeEntry(key), false);
          ASSERT_NE(cursor.fetch(), nullptr);
          cursor.remove();
        } else {
          QbxEntry* e = find(*store, *makeEntry(key));
          ASSERT_NE(e, nullptr);
          deleteEntry(*store, e);
        }
        ++deleted;
      } else {
        // A burst of appends after the last key, through an attached cursor.
        Bytes key = model.empty() ? Bytes{0x10} : model.last();
        cursor.set(makeEntry(key), false);
        (void)cursor.fetch();
        key.push_back(0);
        for (int i = 1; i <= 30; ++i) {
          key.back() = static_cast<std::uint8_t>(i);
          Bytes data = w.randomData();
          cursor.insert(makeEntry(key, data));
          model.add(key, data);
          ++inserted;
        }
      }
    }
    ASSERT_EQ(store->commit(), 0) << "round " << round;
    if (round % 4 == 3) {
      expectTreeMatches(*store, model);
      // Drop everything and read it back from the file.
      store.reset();
      store = openWriter(path, 0x12 | 0x100);
    }
    if (HasFailure()) return;
  }
  store.reset();
  QbxStore reader;
  ASSERT_EQ(reader.open(path, 0x12, ""), 0);
  expectTreeMatches(reader, model);
  EXPECT_GT(inserted, 5000u);
  EXPECT_GT(deleted, 3000u);
}

}  // namespace
}  // namespace qbx::store
