// The operation rules table, checked row by row against the rules of every
// operation code written out as text, flag names and all.
#include "qbx/driver/operation_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "fileaccess/driver_op.h"

namespace qbx::driver {
namespace {

struct ExpectedRule {
  int code;
  const char* name;
  const char* needs;
  const char* refusedIf;
  const char* sets;
  const char* clears;
  const char* failureClears;
  const char* afterSuccess;
};

// clang-format off
constexpr ExpectedRule kExpected[] = {
    {1, "ADD", "isOpen, writable", "", "hasRecord", "", "", "clear"},
    {2, "BOF", "isOpen, sequenced", "", "", "", "", ""},
    {3, "BUILDfile", "writable, exclusive", "inLogout", "", "", "hasRecord, sequenced", "clear"},
    {4, "APPEND", "isOpen, writable", "", "", "", "", "clear"},
    {5, "BUILDdyn", "isOpen", "inLogout", "indexBuilt", "", "", "clear"},
    {6, "BUILDkey", "writable, exclusive", "inLogout", "", "", "", "clear"},
    {7, "CLOSE", "isOpen", "inLogout", "", "isOpen", "", "clear, discard"},
    {8, "COMMIT", "isOpen, inLogout", "", "", "inLogout", "", "clear"},
    {9, "COPY", "", "isOpen", "", "", "", "clear, discard"},
    {10, "CREATE", "", "isOpen", "", "", "", "clear, discard"},
    {11, "DELETE", "isOpen, hasRecord, writable", "", "", "hasRecord", "", "clear"},
    {12, "DUPLICATE", "isOpen, writable", "", "", "", "", "clear"},
    {13, "EMPTY", "isOpen, writable, exclusive", "inLogout", "", "", "", "clear"},
    {14, "EOF", "isOpen, sequenced", "", "", "", "", ""},
    {15, "GETfilekey", "isOpen, indexBuilt", "", "hasRecord", "", "hasRecord", "clear"},
    {16, "GETfileptr", "isOpen", "", "hasRecord", "", "hasRecord", "clear"},
    {17, "GETkeyptr", "isOpen, indexBuilt", "", "hasRecord", "", "hasRecord", "clear"},
    {18, "HOLDfile", "isOpen", "", "", "", "", "clear"},
    {19, "HOLDfilesec", "isOpen", "", "", "", "", "clear"},
    {20, "LOCKfile", "isOpen", "locked", "locked, exclusive", "", "", "clear"},
    {21, "LOCKfilesec", "isOpen", "locked", "locked, exclusive", "", "", "clear"},
    {22, "LOGOUT", "isOpen", "inLogout", "inLogout", "", "", "clear"},
    {23, "NAME", "", "", "", "", "", ""},
    {24, "NEXT", "isOpen, sequenced", "", "hasRecord", "", "hasRecord, sequenced", "clear"},
    {25, "OPEN", "", "isOpen", "isOpen", "", "", "clear"},
    {26, "PACK", "writable, exclusive", "inLogout", "", "hasRecord, sequenced", "hasRecord, sequenced", "clear"},
    {27, "POINTERfile", "isOpen, hasRecord", "", "", "", "", ""},
    {28, "POINTERkey", "isOpen, hasRecord, indexBuilt", "", "", "", "", ""},
    {29, "FLUSH", "isOpen", "", "", "streamed", "", "clear"},
    {30, "PUT", "isOpen, hasRecord, writable", "", "", "", "", "clear"},
    {31, "PREVIOUS", "isOpen, sequenced", "", "hasRecord", "", "hasRecord, sequenced", "clear"},
    {32, "RECORDSfile", "isOpen", "", "", "", "", ""},
    {33, "RECORDSkey", "isOpen, indexBuilt", "", "", "", "", ""},
    {34, "BUILDdynfilter", "isOpen", "inLogout", "indexBuilt", "", "", "clear"},
    {35, "(35)", "", "", "", "", "", ""},
    {36, "RELEASE", "isOpen", "", "", "", "", "clear"},
    {37, "REMOVE", "", "isOpen", "", "", "", "clear, discard"},
    {38, "RENAME", "", "isOpen", "", "", "", "clear, discard"},
    {39, "(39)", "", "", "", "", "", ""},
    {40, "ROLLBACK", "isOpen, inLogout", "", "", "inLogout", "", "clear"},
    {41, "SETfile", "isOpen", "", "sequenced", "", "sequenced", "clear"},
    {42, "SETfilekey", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {43, "SETfileptr", "isOpen", "", "sequenced", "", "sequenced", "clear"},
    {44, "SETkey", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {45, "SETkeykey", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {46, "SETkeyptr", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {47, "SETkeykeyptr", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {48, "SHARE", "", "isOpen", "isOpen", "", "", "clear"},
    {49, "SKIP", "isOpen, sequenced", "", "", "hasRecord", "hasRecord, sequenced", "clear"},
    {50, "UNLOCK", "isOpen, locked", "inLogout", "", "locked", "", "clear"},
    {51, "ADDfilelen", "isOpen", "", "", "", "", "clear"},
    {52, "BYTES", "isOpen", "", "", "", "", "clear"},
    {53, "GETfileptrlen", "isOpen", "", "hasRecord", "", "hasRecord", "clear"},
    {54, "PUTfileptr", "isOpen, writable", "", "", "", "hasRecord", "clear"},
    {55, "PUTfileptrlen", "isOpen, writable", "", "", "", "hasRecord", "clear"},
    {56, "STREAM", "isOpen", "streamed", "streamed", "", "", "clear"},
    {57, "DUPLICATEkey", "isOpen, indexBuilt", "", "", "", "", "clear"},
    {58, "WATCH", "isOpen", "", "", "", "", "clear"},
    {59, "APPENDlen", "isOpen, writable", "", "", "", "", "clear"},
    {60, "SEND", "", "", "propertiesSet", "", "", "clear"},
    {61, "POSITIONfile", "isOpen, hasRecord", "", "", "", "", "clear"},
    {62, "POSITIONkey", "isOpen, hasRecord, indexBuilt", "", "", "", "", "clear"},
    {63, "RESETfile", "isOpen", "", "sequenced", "", "sequenced", "clear"},
    {64, "RESETkey", "isOpen, indexBuilt", "", "sequenced", "", "sequenced", "clear"},
    {65, "NOMEMO", "isOpen", "", "", "", "", ""},
    {66, "REGETfile", "isOpen", "", "hasRecord", "", "", "clear"},
    {67, "REGETkey", "isOpen, indexBuilt", "", "hasRecord", "", "", "clear"},
    {68, "NULL", "isOpen", "", "", "", "", "clear"},
    {69, "SETNULL", "isOpen", "", "", "", "", "clear"},
    {70, "SETNONULL", "isOpen", "", "", "", "", "clear"},
    {71, "SET_PROPERTY", "", "", "propertiesSet", "", "", "clear"},
    {72, "GET_PROPERTY", "", "", "", "", "", "clear"},
    {73, "QUERY_KEY", "isOpen, indexBuilt", "", "", "", "", ""},
    {74, "QUERY_VIEW", "", "", "", "", "", ""},
    {75, "BLOB_YIELD", "isOpen", "", "", "", "", "clear"},
    {76, "BLOB_TAKE", "isOpen", "", "", "", "", "clear"},
    {77, "BLOB_SIZE", "isOpen, hasRecord", "", "", "", "", ""},
    {78, "BLOB_GET_PROP", "isOpen", "", "propertiesSet", "", "", "clear"},
    {79, "BLOB_SET_PROP", "isOpen", "", "", "", "", "clear"},
    {80, "BUFFER", "isOpen", "", "", "", "", "clear"},
    {81, "SETview", "isOpen", "", "sequenced", "", "sequenced", "clear"},
    {82, "CLEAR", "isOpen", "", "", "", "", ""},
    {83, "RESETviewfile", "isOpen", "", "sequenced", "", "sequenced", "clear"},
    {84, "BUILDevent", "writable, exclusive", "inLogout", "", "", "hasRecord, sequenced", "clear"},
    {85, "SETPROPERTYkey", "", "", "propertiesSet", "", "", "clear"},
    {86, "GETPROPERTYkey", "", "", "", "", "", "clear"},
    {87, "Internal", "", "", "", "", "", ""},
    {88, "DO_PROPERTY", "", "", "propertiesSet", "", "", "clear"},
    {89, "DOPROPERTYkey", "", "", "propertiesSet", "", "", "clear"},
    {90, "DOPROPERTYblob", "", "", "propertiesSet", "", "", "clear"},
    {91, "Internal", "", "", "", "", "", ""},
    {92, "INVIEW", "isOpen", "", "", "", "", "clear"},
    {93, "ENDVIEW", "isOpen", "", "", "", "", "clear"},
};
// clang-format on

std::uint32_t flagBit(std::string_view name) {
  struct Named {
    std::string_view name;
    std::uint32_t bit;
  };
  static constexpr Named kFlags[] = {
      {"isOpen", 0x00001},   {"hasRecord", 0x00002},  {"inLogout", 0x00004},
      {"streamed", 0x00008}, {"locked", 0x00010},     {"sequenced", 0x00020},
      {"writable", 0x00040}, {"exclusive", 0x00080},  {"indexBuilt", 0x00100},
      {"building", 0x04000}, {"buildLater", 0x08000}, {"propertiesSet", 0x10000},
      {"clear", 0x1},        {"discard", 0x2},
  };
  for (const Named& f : kFlags) {
    if (f.name == name) return f.bit;
  }
  ADD_FAILURE() << "unknown flag name " << name;
  return 0;
}

// "isOpen, writable" -> isOpen | writable.
std::uint32_t parseFlags(std::string_view list) {
  std::uint32_t bits = 0;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    bits |= flagBit(item);
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
  }
  return bits;
}

TEST(OperationRules, EveryCodeFrom1To93HasItsRow) {
  ASSERT_EQ(std::size(kExpected), 93u);
  for (const ExpectedRule& e : kExpected) {
    SCOPED_TRACE(std::to_string(e.code) + " " + e.name);
    const OperationRule* row = findOperationRule(e.code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(fileaccess::driverOpName(e.code), e.name);
    EXPECT_EQ(row->needs, parseFlags(e.needs));
    EXPECT_EQ(row->refusedIf, parseFlags(e.refusedIf));
    EXPECT_EQ(row->sets, parseFlags(e.sets));
    EXPECT_EQ(row->clears, parseFlags(e.clears));
    EXPECT_EQ(row->failureClears, parseFlags(e.failureClears));
    EXPECT_EQ(row->afterSuccess, parseFlags(e.afterSuccess));
  }
}

TEST(OperationRules, CodesOutsideTheTableHaveNoRow) {
  for (int code : {0, -1, 94, 1000, INT_MIN, INT_MAX}) {
    EXPECT_EQ(findOperationRule(code), nullptr) << code;
  }
}

// Traits of the driver entry, each with the codes it applies to; every other
// code of 1 to 93 must not have it.
struct ExpectedTrait {
  const char* what;
  std::uint32_t trait;
  std::vector<int> codes;
};

TEST(OperationRules, TraitsBelongToExactlyTheirCodes) {
  const ExpectedTrait kTraits[] = {
      {"key argument",
       kTakesKey,
       {5, 6, 15, 17, 28, 33, 34, 42, 44, 45, 46, 47, 57, 62, 64, 67, 85, 86, 89}},
      {"pops text A",
       kPopsTextA,
       {5, 9, 34, 38, 60, 63, 64, 66, 67, 71, 72, 78, 79, 85, 86, 88, 89, 90}},
      {"pops text B", kPopsTextB, {34, 71, 78, 85}},
      {"pushes a text result", kPushesText, {23, 60, 61, 62, 72, 79, 86}},
      {"discards stale state",
       kDiscardsStale,
       {3, 6, 7, 9, 10, 23, 25, 37, 38, 48, 60, 71, 78, 85, 88, 89, 90}},
      {"no handler", kNoHandler, {35, 39, 51, 53, 55, 59, 68, 69, 70, 80, 81, 83, 87, 88, 89, 90}},
      {"runs during a deferred build", kRunsDuringBuild, {7, 23, 72, 84, 86}},
      {"takes a position", kTakesPosition, {63, 64, 66, 67}},
      {"returns 1 on failure", kOneOnFailure, {2, 14}},
      {"runs on a damaged file", kRunsOnDamagedFile, {7, 23}},
  };
  for (const ExpectedTrait& t : kTraits) {
    SCOPED_TRACE(t.what);
    for (int code = kFirstRuleCode; code <= kLastRuleCode; ++code) {
      const bool expected = std::find(t.codes.begin(), t.codes.end(), code) != t.codes.end();
      EXPECT_EQ(findOperationRule(code)->has(t.trait), expected) << "code " << code;
    }
  }
}

}  // namespace
}  // namespace qbx::driver
