#include "platform/expression.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::Expression;
using platform::ExpressionFields;
using platform::ExpressionKind;
using platform::ExpressionValue;

// A movie record as a build would offer it: space-padded texts and numbers.
class SampleRecord : public ExpressionFields {
 public:
  struct Field {
    std::string name;
    ExpressionValue value;
  };

  SampleRecord() {
    fields_ = {
        {"MOV:TITLE", ExpressionValue::ofText("The Big Sleep       ")},
        {"MOV:YEAR", ExpressionValue::ofNumber(1946)},
        {"MOV:VALUE", ExpressionValue::ofNumber(12.5)},
        {"MOV:GENRE", ExpressionValue::ofText("Crime     ")},
        {"MOV:OPT", ExpressionValue::ofText("          ")},
        {"MOV:DIRECTOR", ExpressionValue::ofText("O'Hara")},
        {"MOV:ZERO", ExpressionValue::ofNumber(0)},
        {"MOV:CITY", ExpressionValue::ofText("\xC9vian")},  // "Évian" in the ANSI code page
        {"_COUNT2", ExpressionValue::ofNumber(-3)},
    };
  }

  int findField(std::string_view name, ExpressionKind* kind) const override {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const std::string& f = fields_[i].name;
      if (f.size() != name.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < f.size() && same; ++k) {
        same = std::toupper(static_cast<unsigned char>(f[k])) ==
               std::toupper(static_cast<unsigned char>(name[k]));
      }
      if (same) {
        *kind = fields_[i].value.kind;
        return static_cast<int>(i);
      }
    }
    return kNoSuchField;
  }

  ExpressionValue fieldValue(int field) const override {
    ++reads;
    return fields_[static_cast<std::size_t>(field)].value;
  }

  void set(std::size_t i, ExpressionValue v) { fields_[i].value = v; }

  mutable int reads = 0;

 private:
  std::vector<Field> fields_;
};

struct Case {
  const char* text;
  int expected;
};

TEST(Expression, EvaluatesOnASampleRecord) {
  const Case cases[] = {
      // numbers, every relation, integers and decimals with signs
      {"MOV:YEAR = 1946", 1},
      {"MOV:YEAR <> 1946", 0},
      {"MOV:YEAR < 1947", 1},
      {"MOV:YEAR <= 1946", 1},
      {"MOV:YEAR > 1946", 0},
      {"MOV:YEAR >= 1946.0", 1},
      {"MOV:VALUE = 12.50", 1},
      {"MOV:VALUE > +12.4", 1},
      {"MOV:VALUE < .5", 0},
      {"_count2 = -3", 1},
      {"_COUNT2 < -2.5", 1},
      {"-3 = _COUNT2", 1},
      {"MOV:YEAR=1946", 1},
      {"MOV:YEAR ~= 1946", 1},
      {"5. = 5", 1},
      // strings: trailing spaces cut on both sides, unsigned byte order
      {"MOV:TITLE = 'The Big Sleep'", 1},
      {"MOV:TITLE = 'The Big Sleep   '", 1},
      {"MOV:TITLE = 'the big sleep'", 0},
      {"MOV:TITLE ~= 'the BIG sleep'", 1},
      {"MOV:TITLE ~= 'the big'", 0},
      {"MOV:TITLE <> 'The Big'", 1},
      {"MOV:TITLE > 'The Big'", 1},
      {"MOV:TITLE < 'The Big Sleep!'", 1},
      {"MOV:TITLE >= 'The Big Sleep'", 1},
      {"MOV:GENRE < 'Drama'", 1},
      {"MOV:OPT = ''", 1},
      {"MOV:DIRECTOR = 'O''Hara'", 1},
      {"MOV:CITY ~= '\xE9VIAN'", 1},
      {"MOV:CITY > 'Z'", 1},  // 0xC9 sorts above every ASCII letter
      {"'abc' < 'abd'", 1},
      // names without regard to case, keywords too
      {"mov:year = 1946 and Mov:Genre = 'Crime'", 1},
      {"MOV:YEAR = 1 Or MOV:GENRE = 'Crime'", 1},
      {"NoT MOV:YEAR = 1946", 0},
      // logic, precedence and parentheses
      {"MOV:YEAR = 1946 AND MOV:VALUE = 1", 0},
      {"MOV:YEAR = 1 OR MOV:YEAR = 2 OR MOV:YEAR = 1946", 1},
      {"MOV:YEAR = 1 OR MOV:YEAR = 1946 AND MOV:VALUE = 0", 0},
      {"(MOV:YEAR = 1 OR MOV:YEAR = 1946) AND MOV:VALUE = 12.5", 1},
      {"NOT (MOV:YEAR = 1 OR MOV:GENRE = 'Drama')", 1},
      {"NOT NOT MOV:YEAR = 1946", 1},
      {"NOT NOT NOT MOV:YEAR = 1946", 0},
      {"((((MOV:YEAR))) = (1946))", 1},
      {"(MOV:YEAR = 1946) = 1", 1},
      {"NOT MOV:YEAR = 1 AND NOT MOV:YEAR = 2", 1},
      // a lone operand is its truth: a number other than 0, a text not blank
      {"MOV:YEAR", 1},
      {"MOV:ZERO", 0},
      {"NOT MOV:ZERO", 1},
      {"MOV:OPT", 0},
      {"MOV:GENRE AND MOV:ZERO", 0},
      {"MOV:ZERO OR MOV:TITLE", 1},
      {"'  '", 0},
      {"0.0", 0},
      {" \t\r\nMOV:YEAR\n=\t1946  ", 1},
  };
  SampleRecord record;
  for (const Case& c : cases) {
    Expression e;
    ASSERT_EQ(e.compile(c.text, record), 0) << c.text << " at " << e.errorOffset();
    EXPECT_TRUE(e.compiled());
    EXPECT_EQ(e.evaluate(record), c.expected) << c.text;
    // Compiled once, evaluated many times: the answer does not drift.
    EXPECT_EQ(e.evaluate(record), c.expected) << c.text;
  }
}

struct BadCase {
  std::string text;
  int reason;
};

TEST(Expression, RefusesTextsThatDoNotCompile) {
  const std::vector<BadCase> cases = {
      {"", platform::kExpressionEmpty},
      {"   \t ", platform::kExpressionEmpty},
      {"MOV:NOSUCH = 1", platform::kExpressionNoSuchField},
      {"MOV:YEAR = MOV:NOSUCH", platform::kExpressionNoSuchField},
      {"MOV:TITLE = 1946", platform::kExpressionKindMismatch},
      {"MOV:YEAR = '1946'", platform::kExpressionKindMismatch},
      {"MOV:YEAR = (MOV:TITLE = 'x') AND MOV:TITLE = (1 = 1)", platform::kExpressionKindMismatch},
      {"MOV:YEAR =", platform::kExpressionSyntax},
      {"= 1946", platform::kExpressionSyntax},
      {"MOV:YEAR == 1946", platform::kExpressionSyntax},
      {"MOV:YEAR != 1946", platform::kExpressionSyntax},
      {"MOV:YEAR = 1 = 1", platform::kExpressionSyntax},
      {"MOV:YEAR 1946", platform::kExpressionSyntax},
      {"(MOV:YEAR = 1946", platform::kExpressionSyntax},
      {"MOV:YEAR = 1946)", platform::kExpressionSyntax},
      {"()", platform::kExpressionSyntax},
      {"MOV:YEAR = 1946 AND", platform::kExpressionSyntax},
      {"OR MOV:YEAR = 1946", platform::kExpressionSyntax},
      {"NOT", platform::kExpressionSyntax},
      {"MOV:YEAR AND AND MOV:YEAR", platform::kExpressionSyntax},
      {"MOV:TITLE = 'unterminated", platform::kExpressionSyntax},
      {"MOV:TITLE = 'a''", platform::kExpressionSyntax},
      {"MOV:TITLE = \"double\"", platform::kExpressionSyntax},
      {"MOV:YEAR = 19a6", platform::kExpressionSyntax},
      {"MOV:YEAR = 1.2.3", platform::kExpressionSyntax},
      {"MOV:YEAR = 1e3", platform::kExpressionSyntax},
      {"MOV:YEAR = - 1", platform::kExpressionSyntax},
      {"MOV:YEAR = -MOV:YEAR", platform::kExpressionSyntax},
      {"MOV:YEAR + 1 = 1947", platform::kExpressionSyntax},
      {"MOV:YEAR = " + std::string(400, '9'), platform::kExpressionSyntax},
      {"MOV:YEAR.X = 1", platform::kExpressionSyntax},
      {":YEAR = 1", platform::kExpressionSyntax},
      {std::string("MOV:YEAR = 1\0", 13), platform::kExpressionSyntax},
      {"MOV:YEAR = 1 ;", platform::kExpressionSyntax},
      {"AND = 1", platform::kExpressionSyntax},
      {std::string(101, '(') + "1" + std::string(101, ')'), platform::kExpressionTooDeep},
      {"MOV:YEAR = " + std::string(platform::kMaxExpressionLength, '1'),
       platform::kExpressionTooLong},
  };
  SampleRecord record;
  for (const BadCase& c : cases) {
    Expression e;
    EXPECT_EQ(e.compile(c.text, record), c.reason) << c.text;
    EXPECT_FALSE(e.compiled()) << c.text;
    EXPECT_EQ(e.evaluate(record), 0) << c.text;
  }
}

TEST(Expression, LimitsAreInclusive) {
  SampleRecord record;
  Expression e;
  const std::string deepest = std::string(100, '(') + "MOV:YEAR" + std::string(100, ')');
  ASSERT_EQ(e.compile(deepest, record), 0);
  EXPECT_EQ(e.evaluate(record), 1);

  std::string longest = "MOV:YEAR = 1946";
  longest.resize(platform::kMaxExpressionLength, ' ');
  ASSERT_EQ(e.compile(longest, record), 0);
  EXPECT_EQ(e.evaluate(record), 1);

  // Long flat chains are not nesting: they compile and evaluate without
  // recursion however long the text is.
  std::string chain = "MOV:ZERO";
  while (chain.size() + 24 <= platform::kMaxExpressionLength) chain += " OR MOV:ZERO";
  chain += " OR MOV:YEAR";
  ASSERT_EQ(e.compile(chain, record), 0);
  EXPECT_EQ(e.evaluate(record), 1);
  std::string nots;
  while (nots.size() + 12 < platform::kMaxExpressionLength) nots += "NOT NOT ";
  ASSERT_EQ(e.compile(nots + "MOV:YEAR", record), 0);
  EXPECT_EQ(e.evaluate(record), 1);
}

TEST(Expression, FailedCompileDropsTheOldExpressionAndTellsWhere) {
  SampleRecord record;
  Expression e;
  ASSERT_EQ(e.compile("MOV:YEAR = 1946", record), 0);
  EXPECT_EQ(e.compile("MOV:YEAR = 1946 AND MOV:NOSUCH = 2", record),
            platform::kExpressionNoSuchField);
  EXPECT_EQ(e.errorOffset(), 20u);
  EXPECT_FALSE(e.compiled());
  EXPECT_EQ(e.evaluate(record), 0);
}

TEST(Expression, ReadsFieldsOfTheCurrentRecordAndStopsEarly) {
  SampleRecord record;
  Expression e;
  ASSERT_EQ(e.compile("MOV:YEAR > 1950 AND MOV:TITLE = 'x'", record), 0);
  record.reads = 0;
  EXPECT_EQ(e.evaluate(record), 0);
  EXPECT_EQ(record.reads, 1);  // the right side of a false AND is not read
  record.set(1, ExpressionValue::ofNumber(1960));
  record.set(0, ExpressionValue::ofText("x   "));
  EXPECT_EQ(e.evaluate(record), 1);

  // A value of another kind than the field declared counts as 0 or blank.
  ASSERT_EQ(e.compile("MOV:YEAR = 0 AND MOV:TITLE = ''", record), 0);
  record.set(1, ExpressionValue::ofText("1960"));
  record.set(0, ExpressionValue::ofNumber(3));
  EXPECT_EQ(e.evaluate(record), 1);
}

// Random texts from the grammar's own alphabet never crash the compiler,
// and whatever compiles evaluates to 0 or 1.
TEST(Expression, RandomTextsNeverCrash) {
  static const char* const kPieces[] = {
      "MOV:YEAR", "MOV:TITLE", "mov:zero",
      "NOSUCH",   " AND ",     " OR ",
      "NOT ",     "(",         ")",
      "=",        "<>",        "<",
      "<=",       ">",         ">=",
      "~=",       "'",         "''",
      "'x'",      "1",         "-2.5",
      ".",        "+",         "-",
      " ",        "\xFF",      "9999999999999999999999",
      ":",        "_",
  };
  SampleRecord record;
  std::mt19937 random(7);
  int compiledCount = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int n = static_cast<int>(random() % 12);
    for (int k = 0; k < n; ++k) text += kPieces[random() % std::size(kPieces)];
    Expression e;
    if (e.compile(text, record) == 0) {
      ++compiledCount;
      const int r = e.evaluate(record);
      EXPECT_TRUE(r == 0 || r == 1) << text;
    } else {
      EXPECT_LE(e.errorOffset(), text.size()) << text;
    }
  }
  EXPECT_GT(compiledCount, 100);
}

}  // namespace
