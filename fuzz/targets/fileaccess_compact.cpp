// Compact numbers from arbitrary bytes.
//
// Decoding the bytes at each position takes 1 to 4 bytes and never reads
// past the end; encoding the decoded value and decoding that gives the value
// back in no more bytes. Every 4 input bytes are also taken as a value:
// encodable values (magnitude up to 2^29 - 1) must decode back exactly.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fileaccess/field_desc.h"
#include "platform/endian.h"

namespace {

using namespace fileaccess;

void encodeAndDecode(std::int32_t value, std::size_t mostBytes) {
  std::array<std::uint8_t, 4> out{};
  const std::size_t n = encodeCompact(value, out);
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  if (n == 0) {
    if (magnitude <= kCompactMaxMagnitude) std::abort();
    return;
  }
  if (n > mostBytes || magnitude > kCompactMaxMagnitude) std::abort();
  const auto back = decodeCompact(std::span<const std::uint8_t>(out).first(n));
  if (!back || back->value != value || back->length != n) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  for (std::size_t at = 0; at < input.size(); ++at) {
    const auto c = decodeCompact(input.subspan(at));
    if (!c) continue;
    if (c->length < 1 || c->length > 4 || c->length > input.size() - at) std::abort();
    encodeAndDecode(c->value, c->length);
  }
  for (std::size_t at = 0; at + 4 <= input.size(); at += 4) {
    encodeAndDecode(static_cast<std::int32_t>(platform::loadLe32(input, at)), 4);
  }
  return 0;
}
