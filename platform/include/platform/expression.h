// The runtime's expression evaluator: a filter text is compiled once against
// the fields a caller offers, then evaluated for each record. The result of
// an evaluation is 1 when the condition holds and 0 when it does not.
//
// What the evaluator accepts is described in docs/EXPRESSIONS.md. In short:
// comparisons (= <> < <= > >= and ~= for equality without regard to letter
// case), AND, OR, NOT, parentheses, string literals in single quotes, number
// literals, and field names made of letters, digits, ':' and '_'.
//
// Compiling is bounded (text length, nesting depth) and never crashes on any
// input; evaluation allocates nothing and never recurses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The longest text that compiles, in bytes.
inline constexpr std::size_t kMaxExpressionLength = 4096;
// The deepest nesting of parentheses and NOTs that compiles.
inline constexpr int kMaxExpressionDepth = 100;

// Why a compile failed (0 is success).
inline constexpr int kExpressionEmpty = 1;         // nothing but spaces
inline constexpr int kExpressionTooLong = 2;       // longer than kMaxExpressionLength
inline constexpr int kExpressionTooDeep = 3;       // nested deeper than kMaxExpressionDepth
inline constexpr int kExpressionSyntax = 4;        // not a sentence of the grammar
inline constexpr int kExpressionNoSuchField = 5;   // a name the fields do not know
inline constexpr int kExpressionKindMismatch = 6;  // a string compared with a number
inline constexpr int kExpressionNoMemory = 7;      // the compiled program could not be stored

enum class ExpressionKind : std::uint8_t { kNumber, kString };

namespace expression_detail {

// One step of a compiled expression, run on a stack of values.
enum class Op : std::uint8_t {
  kField,    // push the value of field `arg`
  kNumber,   // push number literal `arg`
  kText,     // push string literal `arg`
  kCompare,  // pop two, push 1 or 0 by `compare`
  kNot,      // replace the top by the negation of its truth
  kTruth,    // replace the top by its truth (1 or 0)
  kAndJump,  // top false: make it 0 and jump to `arg`; else pop it
  kOrJump,   // top true: make it 1 and jump to `arg`; else pop it
};
enum class Compare : std::uint8_t { kEq, kNe, kLt, kLe, kGt, kGe, kEqNoCase };
struct Step {
  Op op;
  Compare compare;
  ExpressionKind kind;  // of kField: the field's kind; of kCompare: the operands'
  std::uint32_t arg;
};
struct Slot {
  ExpressionKind kind;
  double number;
  std::string_view text;
};

}  // namespace expression_detail

// The value of an operand. Texts are viewed, not owned: a field's text must
// stay valid until the evaluation that asked for it returns.
struct ExpressionValue {
  ExpressionKind kind = ExpressionKind::kNumber;
  double number = 0;
  std::string_view text;

  static ExpressionValue ofNumber(double n) { return {ExpressionKind::kNumber, n, {}}; }
  static ExpressionValue ofText(std::string_view t) { return {ExpressionKind::kString, 0, t}; }
};

// What an expression may name: the caller's fields, found by name when the
// text is compiled and read by handle when it is evaluated.
class ExpressionFields {
 public:
  static constexpr int kNoSuchField = -1;

  virtual ~ExpressionFields() = default;
  // The handle (0 or more) of the field called name, matched without regard
  // to letter case, and its kind in *kind; kNoSuchField when there is none,
  // which makes the compile fail. name is the text as written.
  virtual int findField(std::string_view name, ExpressionKind* kind) const = 0;
  // The value of a field found by findField, for the current record. A value
  // of another kind than findField reported is taken as 0 or as blank.
  virtual ExpressionValue fieldValue(int field) const = 0;
};

class Expression {
 public:
  // Compiles text against fields; 0 or one of the kExpression* reasons. A
  // failed compile leaves nothing compiled. errorOffset() then tells where.
  [[nodiscard]] int compile(std::string_view text, const ExpressionFields& fields);
  bool compiled() const { return !code_.empty(); }
  // Byte offset in the text where the last compile failed (0 on success).
  std::size_t errorOffset() const { return errorOffset_; }

  // 1 when the condition holds for the values fields gives now, else 0. With
  // nothing compiled the answer is 0. fields should be the same set of
  // fields (or one with the same handles) the text was compiled against.
  int evaluate(const ExpressionFields& fields);

  // Drops the compiled expression.
  void clear();

 private:
  std::vector<expression_detail::Step> code_;
  std::vector<double> numbers_;
  std::vector<std::string> texts_;              // string literals with '' folded to '
  std::vector<expression_detail::Slot> stack_;  // sized at compile: evaluation never grows it
  std::size_t errorOffset_ = 0;
};

}  // namespace platform
