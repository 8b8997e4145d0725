#include "platform/expression.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <system_error>

namespace platform {

namespace {

using expression_detail::Compare;
using expression_detail::Op;
using expression_detail::Slot;
using expression_detail::Step;

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameStart(char c) { return isLetter(c) || c == '_'; }
bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == ':' || c == '_'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool equalsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Letter case folding of the ANSI code page (Windows-1252): ASCII letters,
// the accented capitals 0xC0-0xDE (but not the multiplication sign 0xD7),
// and the four capitals in 0x80-0x9F with small forms elsewhere.
constexpr std::array<std::uint8_t, 256> makeFoldTable() {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  for (int c = 'A'; c <= 'Z'; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c + 32);
  }
  t[0x8A] = 0x9A;
  t[0x8C] = 0x9C;
  t[0x8E] = 0x9E;
  t[0x9F] = 0xFF;
  return t;
}
constexpr std::array<std::uint8_t, 256> kFold = makeFoldTable();

std::string_view cutTrailingSpaces(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

// Unsigned byte order of two texts without their trailing spaces: <0, 0, >0.
int compareTexts(std::string_view a, std::string_view b) {
  a = cutTrailingSpaces(a);
  b = cutTrailingSpaces(b);
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    const int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool equalTextsNoCase(std::string_view a, std::string_view b) {
  a = cutTrailingSpaces(a);
  b = cutTrailingSpaces(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (kFold[static_cast<std::uint8_t>(a[i])] != kFold[static_cast<std::uint8_t>(b[i])]) {
      return false;
    }
  }
  return true;
}

bool truthOf(const Slot& s) {
  if (s.kind == ExpressionKind::kNumber) return s.number != 0;
  return !cutTrailingSpaces(s.text).empty();
}

enum class Token : std::uint8_t {
  kEnd,
  kName,
  kNumber,
  kString,
  kOpen,
  kClose,
  kCompare,
  kAnd,
  kOr,
  kNot,
  kBad,
};

// Recursive descent over the text, emitting the program in postfix order.
// Grammar (lowest binding first):
//   or      := and { OR and }
//   and     := not { AND not }
//   not     := { NOT } compare
//   compare := operand [ relation operand ]
//   operand := name | number | string | '(' or ')'
class Compiler {
 public:
  Compiler(std::string_view text, const ExpressionFields& fields) : text_(text), fields_(fields) {}

  int run() {
    advance();
    if (token_ == Token::kEnd) return fail(kExpressionEmpty);
    ExpressionKind kind{};
    if (!parseOr(&kind)) return result_;
    if (token_ != Token::kEnd) return fail(kExpressionSyntax);
    // The answer is always the truth of the whole expression.
    emit(Op::kTruth);
    return 0;
  }

  std::size_t errorOffset() const { return tokenStart_; }
  std::vector<Step> code;
  std::vector<double> numbers;
  std::vector<std::string> texts;
  std::size_t maxHeight = 0;

 private:
  int fail(int reason) {
    if (result_ == 0) result_ = reason;
    return result_;
  }

  void emit(Op op, std::uint32_t arg = 0, ExpressionKind kind = ExpressionKind::kNumber,
            Compare compare = Compare::kEq) {
    code.push_back(Step{op, compare, kind, arg});
    switch (op) {
      case Op::kField:
      case Op::kNumber:
      case Op::kText:
        ++height_;
        maxHeight = std::max(maxHeight, height_);
        break;
      case Op::kCompare:
      case Op::kAndJump:  // falls through with one value fewer
      case Op::kOrJump:
        --height_;
        break;
      case Op::kNot:
      case Op::kTruth:
        break;
    }
  }

  // Reads the next token into token_ (and its text into tokenText_).
  void advance() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
    tokenStart_ = pos_;
    if (pos_ >= text_.size()) {
      token_ = Token::kEnd;
      return;
    }
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    const char afterNext = pos_ + 2 < text_.size() ? text_[pos_ + 2] : '\0';
    if (isDigit(c) || (c == '.' && isDigit(next)) ||
        ((c == '+' || c == '-') && (isDigit(next) || (next == '.' && isDigit(afterNext))))) {
      lexNumber();
    } else if (isNameStart(c)) {
      std::size_t end = pos_ + 1;
      while (end < text_.size() && isNameChar(text_[end])) ++end;
      tokenText_ = text_.substr(pos_, end - pos_);
      pos_ = end;
      if (equalsNoCaseAscii(tokenText_, "AND")) {
        token_ = Token::kAnd;
      } else if (equalsNoCaseAscii(tokenText_, "OR")) {
        token_ = Token::kOr;
      } else if (equalsNoCaseAscii(tokenText_, "NOT")) {
        token_ = Token::kNot;
      } else {
        token_ = Token::kName;
      }
    } else if (c == '\'') {
      lexString();
    } else if (c == '(') {
      ++pos_;
      token_ = Token::kOpen;
    } else if (c == ')') {
      ++pos_;
      token_ = Token::kClose;
    } else {
      lexRelation(c, next);
    }
  }

  void lexNumber() {
    std::size_t p = pos_;
    bool negative = false;
    if (text_[p] == '+' || text_[p] == '-') {
      negative = text_[p] == '-';
      ++p;
    }
    const std::size_t digitsStart = p;
    while (p < text_.size() && isDigit(text_[p])) ++p;
    if (p < text_.size() && text_[p] == '.') {
      ++p;
      while (p < text_.size() && isDigit(text_[p])) ++p;
    }
    // A number runs into no name and no second decimal point: "12AB" and
    // "1.2.3" are faults, not two tokens.
    if (p < text_.size() && (isNameChar(text_[p]) || text_[p] == '.')) {
      pos_ = p;
      token_ = Token::kBad;
      return;
    }
    double value = 0;
    const char* first = text_.data() + digitsStart;
    const char* last = text_.data() + p;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    pos_ = p;
    if (ec != std::errc() || ptr != last) {
      token_ = Token::kBad;  // beyond the range of a number
      return;
    }
    number_ = negative ? -value : value;
    token_ = Token::kNumber;
  }

  void lexString() {
    std::string value;
    std::size_t p = pos_ + 1;
    for (;;) {
      if (p >= text_.size()) {
        pos_ = p;
        token_ = Token::kBad;  // no closing quote
        return;
      }
      if (text_[p] == '\'') {
        if (p + 1 < text_.size() && text_[p + 1] == '\'') {
          value.push_back('\'');
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      value.push_back(text_[p]);
      ++p;
    }
    pos_ = p;
    string_ = std::move(value);
    token_ = Token::kString;
  }

  void lexRelation(char c, char next) {
    token_ = Token::kCompare;
    if (c == '=') {
      compare_ = Compare::kEq;
      pos_ += 1;
    } else if (c == '~' && next == '=') {
      compare_ = Compare::kEqNoCase;
      pos_ += 2;
    } else if (c == '<' && next == '>') {
      compare_ = Compare::kNe;
      pos_ += 2;
    } else if (c == '<' && next == '=') {
      compare_ = Compare::kLe;
      pos_ += 2;
    } else if (c == '<') {
      compare_ = Compare::kLt;
      pos_ += 1;
    } else if (c == '>' && next == '=') {
      compare_ = Compare::kGe;
      pos_ += 2;
    } else if (c == '>') {
      compare_ = Compare::kGt;
      pos_ += 1;
    } else {
      token_ = Token::kBad;
    }
  }

  // Jumps of one AND or OR chain all land after its last operand.
  void patchJumps(std::size_t firstJumpList, std::vector<std::size_t>& jumps) {
    const auto target = static_cast<std::uint32_t>(code.size());
    for (std::size_t i = firstJumpList; i < jumps.size(); ++i) code[jumps[i]].arg = target;
    jumps.resize(firstJumpList);
  }

  bool parseOr(ExpressionKind* kind) {
    if (!parseAnd(kind)) return false;
    if (token_ != Token::kOr) return true;
    const std::size_t mark = jumps_.size();
    while (token_ == Token::kOr) {
      jumps_.push_back(code.size());
      emit(Op::kOrJump);
      advance();
      ExpressionKind right{};
      if (!parseAnd(&right)) return false;
    }
    emit(Op::kTruth);
    patchJumps(mark, jumps_);
    *kind = ExpressionKind::kNumber;
    return true;
  }

  bool parseAnd(ExpressionKind* kind) {
    if (!parseNot(kind)) return false;
    if (token_ != Token::kAnd) return true;
    const std::size_t mark = jumps_.size();
    while (token_ == Token::kAnd) {
      jumps_.push_back(code.size());
      emit(Op::kAndJump);
      advance();
      ExpressionKind right{};
      if (!parseNot(&right)) return false;
    }
    emit(Op::kTruth);
    patchJumps(mark, jumps_);
    *kind = ExpressionKind::kNumber;
    return true;
  }

  // NOTs are counted, not recursed into, so a long chain costs no stack.
  bool parseNot(ExpressionKind* kind) {
    std::size_t nots = 0;
    while (token_ == Token::kNot) {
      ++nots;
      advance();
    }
    if (!parseCompare(kind)) return false;
    if (nots > 0) {
      // Two NOTs cancel out but still make a truth of the operand.
      emit(nots % 2 == 1 ? Op::kNot : Op::kTruth);
      *kind = ExpressionKind::kNumber;
    }
    return true;
  }

  bool parseCompare(ExpressionKind* kind) {
    if (!parseOperand(kind)) return false;
    if (token_ != Token::kCompare) return true;
    const Compare relation = compare_;
    const std::size_t relationAt = tokenStart_;
    advance();
    ExpressionKind right{};
    if (!parseOperand(&right)) return false;
    if (right != *kind) {
      tokenStart_ = relationAt;
      fail(kExpressionKindMismatch);
      return false;
    }
    emit(Op::kCompare, 0, *kind, relation);
    if (token_ == Token::kCompare) {
      fail(kExpressionSyntax);  // a = b = c: chained relations say nothing clear
      return false;
    }
    *kind = ExpressionKind::kNumber;
    return true;
  }

  bool parseOperand(ExpressionKind* kind) {
    switch (token_) {
      case Token::kName: {
        ExpressionKind fieldKind = ExpressionKind::kNumber;
        const int field = fields_.findField(tokenText_, &fieldKind);
        if (field < 0) {
          fail(kExpressionNoSuchField);
          return false;
        }
        if (fieldKind != ExpressionKind::kNumber && fieldKind != ExpressionKind::kString) {
          fail(kExpressionNoSuchField);
          return false;
        }
        emit(Op::kField, static_cast<std::uint32_t>(field), fieldKind);
        *kind = fieldKind;
        advance();
        return true;
      }
      case Token::kNumber:
        emit(Op::kNumber, static_cast<std::uint32_t>(numbers.size()));
        numbers.push_back(number_);
        *kind = ExpressionKind::kNumber;
        advance();
        return true;
      case Token::kString:
        emit(Op::kText, static_cast<std::uint32_t>(texts.size()), ExpressionKind::kString);
        texts.push_back(std::move(string_));
        *kind = ExpressionKind::kString;
        advance();
        return true;
      case Token::kOpen: {
        if (++depth_ > kMaxExpressionDepth) {
          fail(kExpressionTooDeep);
          return false;
        }
        advance();
        if (!parseOr(kind)) return false;
        if (token_ != Token::kClose) {
          fail(kExpressionSyntax);
          return false;
        }
        --depth_;
        advance();
        return true;
      }
      default:
        fail(kExpressionSyntax);
        return false;
    }
  }

  std::string_view text_;
  const ExpressionFields& fields_;
  std::size_t pos_ = 0;
  std::size_t tokenStart_ = 0;
  Token token_ = Token::kEnd;
  std::string_view tokenText_;
  double number_ = 0;
  std::string string_;
  Compare compare_ = Compare::kEq;
  int depth_ = 0;
  int result_ = 0;
  std::size_t height_ = 0;
  std::vector<std::size_t> jumps_;  // open AND/OR jumps, innermost chain last
};

}  // namespace

int Expression::compile(std::string_view text, const ExpressionFields& fields) {
  clear();
  if (text.size() > kMaxExpressionLength) {
    errorOffset_ = kMaxExpressionLength;
    return kExpressionTooLong;
  }
  try {
    Compiler compiler(text, fields);
    const int result = compiler.run();
    if (result != 0) {
      errorOffset_ = compiler.errorOffset();
      return result;
    }
    code_ = std::move(compiler.code);
    numbers_ = std::move(compiler.numbers);
    texts_ = std::move(compiler.texts);
    stack_.resize(compiler.maxHeight);
  } catch (const std::bad_alloc&) {
    // The program of a bounded text is small; running out here means the
    // process is out of memory, and the text simply does not compile.
    clear();
    return kExpressionNoMemory;
  }
  return 0;
}

void Expression::clear() {
  code_.clear();
  numbers_.clear();
  texts_.clear();
  stack_.clear();
  errorOffset_ = 0;
}

int Expression::evaluate(const ExpressionFields& fields) {
  if (code_.empty()) return 0;
  Slot* const stack = stack_.data();
  std::size_t top = 0;  // number of values on the stack
  const std::size_t end = code_.size();
  for (std::size_t pc = 0; pc < end; ++pc) {
    const Step& step = code_[pc];
    switch (step.op) {
      case Op::kField: {
        const ExpressionValue v = fields.fieldValue(static_cast<int>(step.arg));
        Slot& s = stack[top++];
        s.kind = step.kind;
        if (v.kind == step.kind) {
          s.number = v.number;
          s.text = v.text;
        } else {
          s.number = 0;
          s.text = {};
        }
        break;
      }
      case Op::kNumber:
        stack[top++] = Slot{ExpressionKind::kNumber, numbers_[step.arg], {}};
        break;
      case Op::kText:
        stack[top++] = Slot{ExpressionKind::kString, 0, texts_[step.arg]};
        break;
      case Op::kCompare: {
        const Slot& b = stack[--top];
        Slot& a = stack[top - 1];
        bool r = false;
        if (step.kind == ExpressionKind::kNumber) {
          switch (step.compare) {
            case Compare::kEq:
            case Compare::kEqNoCase:
              r = a.number == b.number;
              break;
            case Compare::kNe:
              r = a.number != b.number;
              break;
            case Compare::kLt:
              r = a.number < b.number;
              break;
            case Compare::kLe:
              r = a.number <= b.number;
              break;
            case Compare::kGt:
              r = a.number > b.number;
              break;
            case Compare::kGe:
              r = a.number >= b.number;
              break;
          }
        } else if (step.compare == Compare::kEqNoCase) {
          r = equalTextsNoCase(a.text, b.text);
        } else {
          const int c = compareTexts(a.text, b.text);
          switch (step.compare) {
            case Compare::kEq:
            case Compare::kEqNoCase:
              r = c == 0;
              break;
            case Compare::kNe:
              r = c != 0;
              break;
            case Compare::kLt:
              r = c < 0;
              break;
            case Compare::kLe:
              r = c <= 0;
              break;
            case Compare::kGt:
              r = c > 0;
              break;
            case Compare::kGe:
              r = c >= 0;
              break;
          }
        }
        a = Slot{ExpressionKind::kNumber, r ? 1.0 : 0.0, {}};
        break;
      }
      case Op::kNot:
        stack[top - 1] = Slot{ExpressionKind::kNumber, truthOf(stack[top - 1]) ? 0.0 : 1.0, {}};
        break;
      case Op::kTruth:
        stack[top - 1] = Slot{ExpressionKind::kNumber, truthOf(stack[top - 1]) ? 1.0 : 0.0, {}};
        break;
      case Op::kAndJump:
        if (!truthOf(stack[top - 1])) {
          stack[top - 1] = Slot{ExpressionKind::kNumber, 0.0, {}};
          pc = step.arg - 1;  // the loop's ++pc lands on the target
        } else {
          --top;
        }
        break;
      case Op::kOrJump:
        if (truthOf(stack[top - 1])) {
          stack[top - 1] = Slot{ExpressionKind::kNumber, 1.0, {}};
          pc = step.arg - 1;
        } else {
          --top;
        }
        break;
    }
  }
  return top > 0 && truthOf(stack[top - 1]) ? 1 : 0;
}

}  // namespace platform
