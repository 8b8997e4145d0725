// Run-length compression of a page's entry area. Runs of four or more equal
// bytes become a repeat count; everything else is copied as literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qbx::store {

// Compresses input into output. Returns the compressed length, or
// input.size() when the input holds no run of four equal bytes (then nothing
// meaningful is written) or when the stream would not fit into output.
std::size_t compress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

// Expands a compressed stream so that exactly output.size() bytes are
// written. Every read is bounded by the input and every write by the output:
// a literal count beyond the bytes still expected, a stream that runs out or
// a literal that runs past it is internal error 522; a repeat count beyond
// the bytes still expected, or a repeat before any byte was written, is 530.
void expand(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

}  // namespace qbx::store
