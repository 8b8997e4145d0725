#include "store_state.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/endian.h"
#include "qbx/store/consistency_check.h"
#include "qbx/store/entry_tree.h"
#include "store_test_util.h"

namespace qbx::store::test {
namespace {

std::string keyText(const Bytes& key) {
  return key.size() == 4 ? std::to_string(platform::loadBe32(key, 0)) : "?";
}

}  // namespace

void PrintTo(const StoreState& state, std::ostream* out) {
  *out << state.entries.size() << " entries";
  if (!state.entries.empty()) {
    *out << " [" << keyText(state.entries.begin()->first) << ".."
         << keyText(state.entries.rbegin()->first) << "]";
  }
  *out << ", counter " << state.counter;
}

StoreState readState(QbxStore& store) {
  StoreState state;
  QbxEntry* e = find(store, *makeEntry({}));
  while (e != nullptr) {
    if (e->keyLength > 0) {
      state.entries.emplace(Bytes(e->key().begin(), e->key().end()),
                            Bytes(e->data().begin(), e->data().end()));
    }
    e = next(store, *e);
  }
  state.counter = platform::loadBe32(store.header().bytes(), format::kHeaderRecordCounter);
  return state;
}

ChangeOp insertKeys(std::uint32_t first, std::uint32_t last, std::size_t dataLength) {
  return {ChangeOp::Kind::kInsert, first, last, dataLength};
}
ChangeOp deleteKeys(std::uint32_t first, std::uint32_t last) {
  return {ChangeOp::Kind::kDelete, first, last, 0};
}
ChangeOp raiseCounter() { return {ChangeOp::Kind::kCounter, 0, 0, 0}; }

void applyStep(QbxStore& store, const ChangeStep& step) {
  for (const ChangeOp& op : step) {
    switch (op.kind) {
      case ChangeOp::Kind::kInsert:
        for (std::uint32_t n = op.first; n <= op.last; ++n) {
          insert(store, numberedEntry(n, 4, op.dataLength));
        }
        break;
      case ChangeOp::Kind::kDelete:
        for (std::uint32_t n = op.first; n <= op.last; ++n) {
          if (QbxEntry* e = find(store, *searchKey(n))) deleteEntry(store, e);
        }
        break;
      case ChangeOp::Kind::kCounter:
        (void)store.nextRecordNumber();
        break;
    }
  }
}

void applyStep(StoreState& state, const ChangeStep& step) {
  for (const ChangeOp& op : step) {
    switch (op.kind) {
      case ChangeOp::Kind::kInsert:
        for (std::uint32_t n = op.first; n <= op.last; ++n) {
          const EntryPtr e = numberedEntry(n, 4, op.dataLength);
          state.entries[Bytes(e->key().begin(), e->key().end())] =
              Bytes(e->data().begin(), e->data().end());
        }
        break;
      case ChangeOp::Kind::kDelete:
        for (std::uint32_t n = op.first; n <= op.last; ++n) state.entries.erase(bigEndianKey(n));
        break;
      case ChangeOp::Kind::kCounter:
        ++state.counter;
        break;
    }
  }
}

std::vector<StoreState> statesOf(const StoreState& start, const std::vector<ChangeStep>& steps) {
  std::vector<StoreState> states{start};
  for (const ChangeStep& step : steps) {
    states.push_back(states.back());
    applyStep(states.back(), step);
  }
  return states;
}

Bytes fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

FileHeader diskHeader(const std::string& path) {
  const Bytes bytes = fileBytes(path);
  FileHeader h;
  std::copy_n(bytes.begin(), std::min<std::size_t>(format::kHeaderSize, bytes.size()),
              h.bytes().begin());
  return h;
}

std::string consistencyProblems(QbxStore& store) {
  std::string text;
  for (const std::string& p : checkConsistency(store)) text += p + "\n";
  return text;
}

}  // namespace qbx::store::test
