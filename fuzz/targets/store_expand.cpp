// Run-length expansion of a page's entry area from arbitrary bytes, and the
// round trip of compression.
//
// Input: u16 LE expected length (taken modulo one page + 1), then the
// compressed stream. Expansion must fill exactly that many bytes or raise
// 522/530, never reading or writing outside its spans. The whole input is
// also compressed as a plain entry area: whatever compress reports as a
// saving must expand back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/endian.h"
#include "qbx/store/compression.h"
#include "qbx/store/format.h"
#include "qbx/store/internal_error.h"

namespace {

using qbx::store::InternalError;
using qbx::store::format::kMaxPageSize;

void expandArbitrary(std::span<const std::uint8_t> input) {
  if (input.size() < 2) return;
  const std::size_t length = platform::loadLe16(input, 0) % (kMaxPageSize + 1);
  std::vector<std::uint8_t> out(length);
  try {
    qbx::store::expand(input.subspan(2), out);
  } catch (const InternalError& e) {
    if (e.number != 522 && e.number != 530) std::abort();
  }
}

void roundTrip(std::span<const std::uint8_t> plain) {
  if (plain.size() > kMaxPageSize) return;
  // The page encoder gives compress ten bytes beyond the area's length.
  std::vector<std::uint8_t> packed(plain.size() + 10);
  const std::size_t length = qbx::store::compress(plain, packed);
  if (length >= plain.size()) return;  // no saving: stored as it is
  std::vector<std::uint8_t> back(plain.size());
  qbx::store::expand(std::span<const std::uint8_t>(packed).first(length), back);
  if (!std::equal(back.begin(), back.end(), plain.begin())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  expandArbitrary(input);
  roundTrip(input);
  return 0;
}
