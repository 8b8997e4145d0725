#include "fileaccess/declarations.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace fileaccess {
namespace {

TEST(NameForms, ThreeFormsNameTheSameText) {
  const std::string chars = "/data/catalogue.rcx";
  std::string padded = chars;
  padded.resize(260, ' ');
  std::string prefixed(1, static_cast<char>(chars.size()));
  prefixed += chars;
  prefixed += "  trailing garbage";  // beyond the length byte's count

  EXPECT_EQ(takeName(padded.c_str(), 260), chars);
  EXPECT_EQ(takeName(chars.c_str(), kTextZeroTerminated), chars);
  EXPECT_EQ(takeName(prefixed.c_str(), kTextLengthPrefixed), chars);
}

TEST(NameForms, BlankEmptyAndAbsentTexts) {
  const std::string blanks(260, ' ');
  EXPECT_EQ(takeName(blanks.c_str(), 260), "");
  EXPECT_EQ(takeName(nullptr, 260), "");
  EXPECT_EQ(takeName("abc", 0), "");
  EXPECT_EQ(takeName("abc", -3), "");
  const char zeroPrefixed[] = {0, 'x'};
  EXPECT_EQ(takeName(zeroPrefixed, kTextLengthPrefixed), "");
  // Leading and inner blanks are part of the name; only trailing ones go.
  EXPECT_EQ(takeName(" a b  ", 6), " a b");
  // takeText keeps the padding, as a label or a text argument needs it.
  EXPECT_EQ(takeText("ab  ", 4), "ab  ");
  // A length-prefixed text of 255 characters: the length byte is unsigned.
  std::string longText(1, static_cast<char>(255));
  longText += std::string(255, 'q');
  EXPECT_EQ(takeText(longText.c_str(), kTextLengthPrefixed).size(), 255u);
}

TEST(Declarations, KeyAndMemoTablesMayBeAbsent) {
  FileBlock file;
  file.keyCount = 5;
  file.memoCount = 2;
  EXPECT_EQ(effectiveKeyCount(file), 0u);
  EXPECT_EQ(effectiveMemoCount(file), 0u);
  KeyDesc key;
  KeyDesc* keys[] = {&key};
  file.keyTable = keys;
  file.keyCount = 1;
  EXPECT_EQ(effectiveKeyCount(file), 1u);
}

TEST(Declarations, KeyComponentsMustNameAField) {
  struct Case {
    std::vector<std::int32_t> components;
    int expected;
  };
  const std::vector<Case> cases = {
      {{1, -3, 33}, 0}, {{-33}, 0},  {{0}, 75},
      {{1, 34}, 75},    {{-34}, 75}, {{std::numeric_limits<std::int32_t>::min()}, 75},
  };
  for (const auto& c : cases) {
    KeyDesc key;
    key.componentCount = static_cast<std::uint8_t>(c.components.size());
    key.components = c.components.data();
    EXPECT_EQ(checkKeyComponents(key, 33), c.expected);
  }
  KeyDesc dynamicIndex;
  dynamicIndex.keyFlags = kKeyIndex;
  EXPECT_EQ(checkKeyComponents(dynamicIndex, 33), 0);
  KeyDesc missing;
  missing.componentCount = 2;
  EXPECT_EQ(checkKeyComponents(missing, 33), 75);
}

TEST(Declarations, TypeNames) {
  EXPECT_EQ(fieldTypeName(kTypeByte), "BYTE");
  EXPECT_EQ(fieldTypeName(kTypeDecimal), "DECIMAL");
  EXPECT_EQ(fieldTypeName(17), "(17)");
  EXPECT_EQ(fieldTypeName(kTypeGroup), "GROUP");
  EXPECT_EQ(fieldTypeName(kTypeStdnum), "STDNUM");
  EXPECT_EQ(fieldTypeName(kTypeSized31), "UNKNOWN");
  EXPECT_EQ(fieldTypeName(255), "UNKNOWN");
}

}  // namespace
}  // namespace fileaccess
