// The filter expression evaluator, from arbitrary text.
//
// Input: the expression text, then optionally a NUL byte and the bytes of a
// small record: two space-padded text fields of 16 bytes and two numbers of
// 8 bytes each (any bit pattern, NaN and infinities included). The text is
// compiled against the record's fields and, when it compiles, evaluated
// twice; an evaluation answers 0 or 1 and gives the same answer again.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/expression.h"

namespace {

using platform::ExpressionFields;
using platform::ExpressionKind;
using platform::ExpressionValue;

constexpr std::size_t kTextSize = 16;

class FuzzRecord final : public ExpressionFields {
 public:
  explicit FuzzRecord(std::string_view bytes) {
    title_.fill(' ');
    genre_.fill(' ');
    std::size_t at = 0;
    const auto take = [&](void* out, std::size_t n) {
      const std::size_t k = std::min(n, bytes.size() - std::min(at, bytes.size()));
      if (k > 0) std::memcpy(out, bytes.data() + at, k);
      at += n;
    };
    take(title_.data(), kTextSize);
    take(genre_.data(), kTextSize);
    take(&year_, sizeof year_);
    take(&value_, sizeof value_);
  }

  int findField(std::string_view name, ExpressionKind* kind) const override {
    static constexpr std::string_view kNames[] = {"MOV:TITLE", "MOV:GENRE", "MOV:YEAR",
                                                  "MOV:VALUE", "_COUNT2"};
    for (int i = 0; i < 5; ++i) {
      const std::string_view n = kNames[i];
      if (n.size() == name.size() &&
          std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) ==
                   std::toupper(static_cast<unsigned char>(b));
          })) {
        *kind = i < 2 ? ExpressionKind::kString : ExpressionKind::kNumber;
        return i;
      }
    }
    return kNoSuchField;
  }

  ExpressionValue fieldValue(int field) const override {
    switch (field) {
      case 0:
        return ExpressionValue::ofText({title_.data(), title_.size()});
      case 1:
        return ExpressionValue::ofText({genre_.data(), genre_.size()});
      case 2:
        return ExpressionValue::ofNumber(year_);
      case 3:
        return ExpressionValue::ofNumber(value_);
      default:
        // A value of another kind than was found: read as 0 or blank.
        return ExpressionValue::ofText(" ");
    }
  }

 private:
  std::array<char, kTextSize> title_;
  std::array<char, kTextSize> genre_;
  double year_ = 0;
  double value_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view text = input.substr(0, split);
  const std::string_view record = split == std::string_view::npos ? std::string_view{}
                                                                  : input.substr(split + 1);
  FuzzRecord fields(record);
  platform::Expression expression;
  const int rc = expression.compile(text, fields);
  if (rc < 0 || rc > platform::kExpressionNoMemory) std::abort();
  if ((rc == 0) != expression.compiled()) std::abort();
  if (rc != 0 && expression.errorOffset() > text.size()) std::abort();
  const int first = expression.evaluate(fields);
  const int second = expression.evaluate(fields);
  if ((first != 0 && first != 1) || first != second) std::abort();
  return 0;
}
