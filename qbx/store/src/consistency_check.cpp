#include "qbx/store/consistency_check.h"

#include <unordered_map>

#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/slot_allocator.h"
#include "qbx/store/store.h"

namespace qbx::store {
namespace {

class Checker {
 public:
  explicit Checker(QbxStore& store) : store_(store) {}

  std::vector<std::string> run() {
    QbxPage* root = nullptr;
    try {
      root = getRootPage(store_);
    } catch (const InternalError& e) {
      problem("root page " + std::to_string(store_.header().rootPage()) + ": internal error " +
              std::to_string(e.number));
    }
    if (root != nullptr) walk(root, -1, nullptr);
    checkRegions();
    return std::move(problems_);
  }

 private:
  void problem(std::string text) { problems_.push_back(std::move(text)); }

  static std::string hex(const QbxEntry& e) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : e.key()) {
      s += digits[b >> 4];
      s += digits[b & 15];
    }
    return s.empty() ? "(empty)" : s;
  }

  // Walks a page and everything below it; separator is the entry that led
  // here (none for the root), expectedLevel -1 for the root.
  void walk(QbxPage* page, int expectedLevel, const QbxEntry* separator) {
    const std::string name = "page " + std::to_string(page->number);
    if (++visits_[page->number] > 1) {
      problem(name + " is reached more than once");
      return;
    }
    if (expectedLevel >= 0 && page->level != expectedLevel) {
      problem(name + " has level " + std::to_string(page->level) + ", expected " +
              std::to_string(expectedLevel));
    }
    if (page->tree == nullptr) {
      problem(name + " holds no entry");
      return;
    }
    QbxEntry* first = leftmost(page->tree);
    if (separator != nullptr && compareEntries(*first, *separator) != 0) {
      problem(name + " begins with " + hex(*first) + " but its separator is " + hex(*separator));
    }
    PagePin pin(page);
    for (QbxEntry* e = first; e != nullptr; e = inTreeSuccessor(e)) {
      if (page->isLeaf()) {
        leafEntry(name, *e);
        continue;
      }
      QbxPage* child = nullptr;
      try {
        child = store_.getPage(e->childPage());
      } catch (const InternalError& err) {
        problem(name + ": child " + std::to_string(e->childPage()) + " gives internal error " +
                std::to_string(err.number));
      }
      if (child != nullptr) walk(child, page->level - 1, e);
    }
  }

  void leafEntry(const std::string& name, const QbxEntry& e) {
    if (last_ == nullptr) {
      if (e.keyLength != 0) problem(name + ": the tree does not begin with the empty-key entry");
    } else if (compareKeys(last_->key(), e.key()) >= 0) {
      problem(name + ": " + hex(e) + " does not follow " + hex(*last_));
    }
    last_ = copyKey(e);
  }

  void checkRegions() {
    const FileHeader& h = store_.header();
    for (int c = 1; c <= format::kMaxClass; ++c) {
      for (std::uint32_t p = h.regionStart(c); p < h.regionEnd(c); p += static_cast<std::uint32_t>(c)) {
        if (visits_.count(static_cast<std::int32_t>(p)) == 0) {
          problem("slot " + std::to_string(p) + " of class " + std::to_string(c) +
                  " holds no reachable page");
        }
      }
    }
    for (const auto& [number, count] : visits_) {
      if (number < 0) continue;
      bool atSlot = false;
      for (int c = 1; c <= format::kMaxClass && !atSlot; ++c) {
        const auto n = static_cast<std::uint32_t>(number);
        atSlot = h.regionStart(c) <= n && n < h.regionEnd(c) &&
                 (n - h.regionStart(c)) % static_cast<std::uint32_t>(c) == 0;
      }
      if (!atSlot) problem("page " + std::to_string(number) + " is not at a slot of a region");
    }
    std::uint64_t length = 0;
    if (store_.diskFile().hasHandle() && store_.diskFile().file().size(&length) == 0 &&
        length < h.logicalEnd()) {
      problem("the file ends at " + std::to_string(length) + ", before its logical end " +
              std::to_string(h.logicalEnd()));
    }
  }

  QbxStore& store_;
  std::vector<std::string> problems_;
  std::unordered_map<std::int32_t, int> visits_;
  EntryPtr last_;
};

}  // namespace

std::vector<std::string> checkConsistency(QbxStore& store) { return Checker(store).run(); }

}  // namespace qbx::store
