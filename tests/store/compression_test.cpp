#include "qbx/store/compression.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "qbx/store/internal_error.h"

namespace qbx::store {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes repeat(std::uint8_t b, std::size_t n) { return Bytes(n, b); }
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct CompressCase {
  const char* name;
  Bytes input;
  Bytes compressed;  // empty: stored uncompressed
};

class CompressExamples : public ::testing::TestWithParam<CompressCase> {};

TEST_P(CompressExamples, CompressesAndExpandsBack) {
  const CompressCase& c = GetParam();
  Bytes out(c.input.size() + 10, 0xEE);
  const std::size_t length = compress(c.input, out);
  if (c.compressed.empty()) {
    EXPECT_EQ(length, c.input.size());
    return;
  }
  ASSERT_EQ(length, c.compressed.size());
  out.resize(length);
  EXPECT_EQ(out, c.compressed);
  Bytes back(c.input.size());
  expand(out, back);
  EXPECT_EQ(back, c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CompressExamples,
    ::testing::Values(
        CompressCase{"RunThenLiteral", {0x41, 0x41, 0x41, 0x41, 0x42}, {0x01, 0x41, 0x03, 0x01, 0x42}},
        CompressCase{"NoRunStaysUncompressed", {0x41, 0x42, 0x41, 0x42}, {}},
        CompressCase{"RunsOfThreeStayLiteral", {1, 1, 1, 2, 2, 2, 3, 3}, {}},
        CompressCase{"EndsInRun", {0x78, 0x79, 0x7A, 0x7A, 0x7A, 0x7A}, {0x03, 0x78, 0x79, 0x7A, 0x03, 0x00}},
        CompressCase{"LongRunTwoByteCount", concat({0x41}, repeat(0x42, 200)),
                     {0x02, 0x41, 0x42, 0xC7, 0x01, 0x00}},
        CompressCase{"WholeInputOneRun", repeat(0, 4), {0x01, 0x00, 0x03, 0x00}}),
    [](const auto& param) { return std::string(param.param.name); });

// A literal of 201 bytes needs a two-byte count.
TEST(Compress, LongLiteralCountTakesTwoBytes) {
  Bytes input;
  for (int i = 0; i < 200; ++i) input.push_back(static_cast<std::uint8_t>(i));
  input = concat(input, repeat(7, 10));
  Bytes out(input.size() + 10);
  const std::size_t length = compress(input, out);
  ASSERT_LT(length, input.size());
  EXPECT_EQ(out[0], 0xC9);  // 201 = 0x49 | 0x80, then 1
  EXPECT_EQ(out[1], 0x01);
  out.resize(length);
  Bytes back(input.size());
  expand(out, back);
  EXPECT_EQ(back, input);
}

TEST(Compress, OutputTooSmallLeavesInputUncompressed) {
  const Bytes input = concat(repeat(1, 10), {2, 3, 4, 5, 6, 7});
  Bytes out(3);
  EXPECT_EQ(compress(input, out), input.size());
}

TEST(Compress, RandomRoundTrip) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    Bytes input;
    const int pieces = static_cast<int>(rng() % 40);
    for (int p = 0; p < pieces; ++p) {
      const auto b = static_cast<std::uint8_t>(rng() % 4);
      const std::size_t n = 1 + rng() % (rng() % 2 ? 3 : 300);
      input.insert(input.end(), n, b);
    }
    Bytes out(input.size() + 10);
    const std::size_t length = compress(input, out);
    ASSERT_LE(length, input.size() + 2);
    if (length == input.size()) continue;
    out.resize(length);
    Bytes back(input.size());
    expand(out, back);
    ASSERT_EQ(back, input);
  }
}

struct ExpandFault {
  const char* name;
  Bytes stream;
  std::size_t expected;
  int error;
};

class ExpandFaults : public ::testing::TestWithParam<ExpandFault> {};

TEST_P(ExpandFaults, RaisesItsInternalError) {
  const ExpandFault& f = GetParam();
  Bytes out(f.expected);
  try {
    expand(f.stream, out);
    FAIL() << "no internal error";
  } catch (const InternalError& e) {
    EXPECT_EQ(e.number, f.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExpandFaults,
    ::testing::Values(
        ExpandFault{"LiteralBeyondExpected", {0x05, 1, 2, 3, 4, 5}, 4, 522},
        ExpandFault{"LiteralBeyondInput", {0x04, 1, 2}, 10, 522},
        ExpandFault{"EmptyInput", {}, 4, 522},
        ExpandFault{"InputEndsBeforeRepeat", {0x01, 9}, 4, 522},
        ExpandFault{"InputEndsInsideCount", {0x81}, 4, 522},
        ExpandFault{"CountLongerThanAPageNeeds", {0x80, 0x80, 0x80, 0x01}, 4, 522},
        ExpandFault{"RepeatBeyondExpected", {0x01, 9, 0x05}, 4, 530},
        ExpandFault{"RepeatBeforeAnyByte", {0x00, 0x03}, 4, 530},
        ExpandFault{"ZeroCountsUntilInputEnds", {0x00, 0x00, 0x00, 0x00}, 4, 522}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace qbx::store
