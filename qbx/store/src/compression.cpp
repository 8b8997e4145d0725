#include "qbx/store/compression.h"

#include <algorithm>

#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"

namespace qbx::store {
namespace {

// Counts never exceed a page (15104 bytes), which needs two base-128 bytes;
// three are accepted, more are a damaged stream.
constexpr int kMaxCountBytes = 3;

// Appends counts and literals to a bounded output; remembers an overflow
// instead of writing past the end.
class Sink {
 public:
  explicit Sink(std::span<std::uint8_t> out) : out_(out) {}

  void count(std::size_t value) {
    while (value >= 0x80) {
      byte(static_cast<std::uint8_t>(value | 0x80));
      value >>= 7;
    }
    byte(static_cast<std::uint8_t>(value));
  }

  void bytes(std::span<const std::uint8_t> run) {
    if (run.size() > out_.size() - pos_) {
      overflow_ = true;
      return;
    }
    std::copy(run.begin(), run.end(), out_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ += run.size();
  }

  std::size_t length() const { return pos_; }
  bool overflow() const { return overflow_; }

 private:
  void byte(std::uint8_t b) {
    if (pos_ >= out_.size()) {
      overflow_ = true;
      return;
    }
    out_[pos_++] = b;
  }

  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
  bool overflow_ = false;
};

// Reads one count; a stream that ends inside it, or a count longer than a
// page can need, is a damaged literal (522).
std::size_t readCount(std::span<const std::uint8_t> in, std::size_t* pos) {
  std::size_t value = 0;
  for (int i = 0; i < kMaxCountBytes; ++i) {
    if (*pos >= in.size()) raiseInternalError(kErrExpandLiteral);
    const std::uint8_t b = in[(*pos)++];
    value |= static_cast<std::size_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) return value;
  }
  raiseInternalError(kErrExpandLiteral);
}

}  // namespace

std::size_t compress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const std::size_t length = input.size();
  Sink sink(output);
  bool wrote = false;
  std::size_t a = 0;  // first byte not yet written
  std::size_t i = 0;
  while (i < length) {
    std::size_t j = i + 1;
    while (j < length && input[j] == input[i]) ++j;
    if (j - i >= 4) {
      // The literal runs up to and including the first byte of the run.
      sink.count(i + 1 - a);
      sink.bytes(input.subspan(a, i + 1 - a));
      sink.count(j - i - 1);
      a = j;
      wrote = true;
    }
    i = j;
  }
  if (!wrote) return length;
  sink.count(length - a);
  sink.bytes(input.subspan(a));
  if (sink.overflow()) return length;
  return sink.length();
}

void expand(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  std::size_t in = 0;
  std::size_t out = 0;
  const std::size_t expected = output.size();
  for (;;) {
    const std::size_t literal = readCount(input, &in);
    if (literal > expected - out || literal > input.size() - in) {
      raiseInternalError(kErrExpandLiteral);
    }
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(in), literal,
                output.begin() + static_cast<std::ptrdiff_t>(out));
    in += literal;
    out += literal;
    if (out == expected) return;

    const std::size_t repeat = readCount(input, &in);
    if (repeat > expected - out) raiseInternalError(kErrExpandRepeat);
    if (repeat > 0) {
      if (out == 0) raiseInternalError(kErrExpandRepeat);
      const std::uint8_t last = output[out - 1];
      std::fill_n(output.begin() + static_cast<std::ptrdiff_t>(out), repeat, last);
      out += repeat;
    }
    if (out == expected) return;
  }
}

}  // namespace qbx::store
