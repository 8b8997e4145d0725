// The whole visible state of a store (every entry with its data, and the
// record number counter), a model of that state in a std::map, and change
// steps that are applied alike to a store and to the model. The proofs of
// commit, recovery and sharing compare what a file holds with the model of
// the state before and after the commit they interrupted.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "qbx/store/file_header.h"
#include "qbx/store/store.h"

namespace qbx::store::test {

using Bytes = std::vector<std::uint8_t>;

struct StoreState {
  std::map<Bytes, Bytes> entries;  // key -> data, the empty-key entry left out
  std::uint32_t counter = 0;       // record number counter
  bool operator==(const StoreState&) const = default;
};

// Short form for failure messages: the count, the smallest and greatest key
// and the counter.
void PrintTo(const StoreState& state, std::ostream* out);

// Every entry of the store in key order, and its counter.
StoreState readState(QbxStore& store);

// One change: insert the keys first..last (numberedEntry data of the given
// length), delete the keys first..last, or raise the record number counter
// once.
struct ChangeOp {
  enum class Kind { kInsert, kDelete, kCounter };
  Kind kind;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::size_t dataLength = 0;
};
// The changes made by one commit.
using ChangeStep = std::vector<ChangeOp>;

ChangeOp insertKeys(std::uint32_t first, std::uint32_t last, std::size_t dataLength);
ChangeOp deleteKeys(std::uint32_t first, std::uint32_t last);
ChangeOp raiseCounter();

// The store must be in writer mode.
void applyStep(QbxStore& store, const ChangeStep& step);
void applyStep(StoreState& state, const ChangeStep& step);

// The states of a sequence: states[0] is the start, states[k] the state
// after step k.
std::vector<StoreState> statesOf(const StoreState& start, const std::vector<ChangeStep>& steps);

// The file's bytes, and its header as it stands at offset 0.
Bytes fileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const Bytes& bytes);
FileHeader diskHeader(const std::string& path);

// The problems the consistency check finds, joined into one text ("" when
// the tree is intact).
std::string consistencyProblems(QbxStore& store);

}  // namespace qbx::store::test
