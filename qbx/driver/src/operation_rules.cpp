// The operation rules table, one row per operation code 1 to 93 (row 0 is a
// placeholder: code 0 has no rule). Rows left blank in every flag column are
// kept so that the row index is the code.
#include "qbx/driver/operation_rules.h"

#include <array>
#include <cstddef>

namespace qbx::driver {
namespace {

using namespace flag;

constexpr std::uint32_t kClear = kClearError;
constexpr std::uint32_t kClearDiscard = kClearError | kDiscardFile;

constexpr std::uint32_t kKey = kTakesKey;
constexpr std::uint32_t kTextA = kPopsTextA;
constexpr std::uint32_t kTextAB = kPopsTextA | kPopsTextB;
constexpr std::uint32_t kPush = kPushesText;
constexpr std::uint32_t kStale = kDiscardsStale;
constexpr std::uint32_t kNone = kNoHandler;
constexpr std::uint32_t kDuringBuild = kRunsDuringBuild;
constexpr std::uint32_t kPosition = kTakesPosition;

constexpr std::uint32_t kRead = hasRecord | sequenced;

// clang-format off
constexpr std::array<OperationRule, kLastRuleCode + 1> kRules{{
//    needs                             refusedIf  sets                clears           failureClears  afterSuccess  traits
/*  0 (0)            */ {0,                                0,        0,                  0,               0,         0,            kNone},
/*  1 ADD            */ {isOpen | writable,                0,        hasRecord,          0,               0,         kClear,       0},
/*  2 BOF            */ {isOpen | sequenced,               0,        0,                  0,               0,         0,            kOneOnFailure},
/*  3 BUILDfile      */ {writable | exclusive,             inLogout, 0,                  0,               kRead,     kClear,       kStale},
/*  4 APPEND         */ {isOpen | writable,                0,        0,                  0,               0,         kClear,       0},
/*  5 BUILDdyn       */ {isOpen,                           inLogout, indexBuilt,         0,               0,         kClear,       kKey | kTextA},
/*  6 BUILDkey       */ {writable | exclusive,             inLogout, 0,                  0,               0,         kClear,       kKey | kStale},
/*  7 CLOSE          */ {isOpen,                           inLogout, 0,                  isOpen,          0,         kClearDiscard, kStale | kDuringBuild | kRunsOnDamagedFile},
/*  8 COMMIT         */ {isOpen | inLogout,                0,        0,                  inLogout,        0,         kClear,       0},
/*  9 COPY           */ {0,                                isOpen,   0,                  0,               0,         kClearDiscard, kTextA | kStale},
/* 10 CREATE         */ {0,                                isOpen,   0,                  0,               0,         kClearDiscard, kStale},
/* 11 DELETE         */ {isOpen | hasRecord | writable,    0,        0,                  hasRecord,       0,         kClear,       0},
/* 12 DUPLICATE      */ {isOpen | writable,                0,        0,                  0,               0,         kClear,       0},
/* 13 EMPTY          */ {isOpen | writable | exclusive,    inLogout, 0,                  0,               0,         kClear,       0},
/* 14 EOF            */ {isOpen | sequenced,               0,        0,                  0,               0,         0,            kOneOnFailure},
/* 15 GETfilekey     */ {isOpen | indexBuilt,              0,        hasRecord,          0,               hasRecord, kClear,       kKey},
/* 16 GETfileptr     */ {isOpen,                           0,        hasRecord,          0,               hasRecord, kClear,       0},
/* 17 GETkeyptr      */ {isOpen | indexBuilt,              0,        hasRecord,          0,               hasRecord, kClear,       kKey},
/* 18 HOLDfile       */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 19 HOLDfilesec    */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 20 LOCKfile       */ {isOpen,                           locked,   locked | exclusive, 0,               0,         kClear,       0},
/* 21 LOCKfilesec    */ {isOpen,                           locked,   locked | exclusive, 0,               0,         kClear,       0},
/* 22 LOGOUT         */ {isOpen,                           inLogout, inLogout,           0,               0,         kClear,       0},
/* 23 NAME           */ {0,                                0,        0,                  0,               0,         0,            kPush | kStale | kDuringBuild | kRunsOnDamagedFile},
/* 24 NEXT           */ {isOpen | sequenced,               0,        hasRecord,          0,               kRead,     kClear,       0},
/* 25 OPEN           */ {0,                                isOpen,   isOpen,             0,               0,         kClear,       kStale},
/* 26 PACK           */ {writable | exclusive,             inLogout, 0,                  kRead,           kRead,     kClear,       0},
/* 27 POINTERfile    */ {isOpen | hasRecord,               0,        0,                  0,               0,         0,            0},
/* 28 POINTERkey     */ {isOpen | hasRecord | indexBuilt,  0,        0,                  0,               0,         0,            kKey},
/* 29 FLUSH          */ {isOpen,                           0,        0,                  streamed,        0,         kClear,       0},
/* 30 PUT            */ {isOpen | hasRecord | writable,    0,        0,                  0,               0,         kClear,       0},
/* 31 PREVIOUS       */ {isOpen | sequenced,               0,        hasRecord,          0,               kRead,     kClear,       0},
/* 32 RECORDSfile    */ {isOpen,                           0,        0,                  0,               0,         0,            0},
/* 33 RECORDSkey     */ {isOpen | indexBuilt,              0,        0,                  0,               0,         0,            kKey},
/* 34 BUILDdynfilter */ {isOpen,                           inLogout, indexBuilt,         0,               0,         kClear,       kKey | kTextAB},
/* 35 (35)           */ {0,                                0,        0,                  0,               0,         0,            kNone},
/* 36 RELEASE        */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 37 REMOVE         */ {0,                                isOpen,   0,                  0,               0,         kClearDiscard, kStale},
/* 38 RENAME         */ {0,                                isOpen,   0,                  0,               0,         kClearDiscard, kTextA | kStale},
/* 39 (39)           */ {0,                                0,        0,                  0,               0,         0,            kNone},
/* 40 ROLLBACK       */ {isOpen | inLogout,                0,        0,                  inLogout,        0,         kClear,       0},
/* 41 SETfile        */ {isOpen,                           0,        sequenced,          0,               sequenced, kClear,       0},
/* 42 SETfilekey     */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey},
/* 43 SETfileptr     */ {isOpen,                           0,        sequenced,          0,               sequenced, kClear,       0},
/* 44 SETkey         */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey},
/* 45 SETkeykey      */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey},
/* 46 SETkeyptr      */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey},
/* 47 SETkeykeyptr   */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey},
/* 48 SHARE          */ {0,                                isOpen,   isOpen,             0,               0,         kClear,       kStale},
/* 49 SKIP           */ {isOpen | sequenced,               0,        0,                  hasRecord,       kRead,     kClear,       0},
/* 50 UNLOCK         */ {isOpen | locked,                  inLogout, 0,                  locked,          0,         kClear,       0},
/* 51 ADDfilelen     */ {isOpen,                           0,        0,                  0,               0,         kClear,       kNone},
/* 52 BYTES          */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 53 GETfileptrlen  */ {isOpen,                           0,        hasRecord,          0,               hasRecord, kClear,       kNone},
/* 54 PUTfileptr     */ {isOpen | writable,                0,        0,                  0,               hasRecord, kClear,       0},
/* 55 PUTfileptrlen  */ {isOpen | writable,                0,        0,                  0,               hasRecord, kClear,       kNone},
/* 56 STREAM         */ {isOpen,                           streamed, streamed,           0,               0,         kClear,       0},
/* 57 DUPLICATEkey   */ {isOpen | indexBuilt,              0,        0,                  0,               0,         kClear,       kKey},
/* 58 WATCH          */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 59 APPENDlen      */ {isOpen | writable,                0,        0,                  0,               0,         kClear,       kNone},
/* 60 SEND           */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kTextA | kPush | kStale},
/* 61 POSITIONfile   */ {isOpen | hasRecord,               0,        0,                  0,               0,         kClear,       kPush},
/* 62 POSITIONkey    */ {isOpen | hasRecord | indexBuilt,  0,        0,                  0,               0,         kClear,       kKey | kPush},
/* 63 RESETfile      */ {isOpen,                           0,        sequenced,          0,               sequenced, kClear,       kTextA | kPosition},
/* 64 RESETkey       */ {isOpen | indexBuilt,              0,        sequenced,          0,               sequenced, kClear,       kKey | kTextA | kPosition},
/* 65 NOMEMO         */ {isOpen,                           0,        0,                  0,               0,         0,            0},
/* 66 REGETfile      */ {isOpen,                           0,        hasRecord,          0,               0,         kClear,       kTextA | kPosition},
/* 67 REGETkey       */ {isOpen | indexBuilt,              0,        hasRecord,          0,               0,         kClear,       kKey | kTextA | kPosition},
/* 68 NULL           */ {isOpen,                           0,        0,                  0,               0,         kClear,       kNone},
/* 69 SETNULL        */ {isOpen,                           0,        0,                  0,               0,         kClear,       kNone},
/* 70 SETNONULL      */ {isOpen,                           0,        0,                  0,               0,         kClear,       kNone},
/* 71 SET_PROPERTY   */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kTextAB | kStale},
/* 72 GET_PROPERTY   */ {0,                                0,        0,                  0,               0,         kClear,       kTextA | kPush | kDuringBuild},
/* 73 QUERY_KEY      */ {isOpen | indexBuilt,              0,        0,                  0,               0,         0,            0},
/* 74 QUERY_VIEW     */ {0,                                0,        0,                  0,               0,         0,            0},
/* 75 BLOB_YIELD     */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 76 BLOB_TAKE      */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 77 BLOB_SIZE      */ {isOpen | hasRecord,               0,        0,                  0,               0,         0,            0},
/* 78 BLOB_GET_PROP  */ {isOpen,                           0,        propertiesSet,      0,               0,         kClear,       kTextAB | kStale},
/* 79 BLOB_SET_PROP  */ {isOpen,                           0,        0,                  0,               0,         kClear,       kTextA | kPush},
/* 80 BUFFER         */ {isOpen,                           0,        0,                  0,               0,         kClear,       kNone},
/* 81 SETview        */ {isOpen,                           0,        sequenced,          0,               sequenced, kClear,       kNone},
/* 82 CLEAR          */ {isOpen,                           0,        0,                  0,               0,         0,            0},
/* 83 RESETviewfile  */ {isOpen,                           0,        sequenced,          0,               sequenced, kClear,       kNone},
/* 84 BUILDevent     */ {writable | exclusive,             inLogout, 0,                  0,               kRead,     kClear,       kDuringBuild},
/* 85 SETPROPERTYkey */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kKey | kTextAB | kStale},
/* 86 GETPROPERTYkey */ {0,                                0,        0,                  0,               0,         kClear,       kKey | kTextA | kPush | kDuringBuild},
/* 87 Internal       */ {0,                                0,        0,                  0,               0,         0,            kNone},
/* 88 DO_PROPERTY    */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kTextA | kStale | kNone},
/* 89 DOPROPERTYkey  */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kKey | kTextA | kStale | kNone},
/* 90 DOPROPERTYblob */ {0,                                0,        propertiesSet,      0,               0,         kClear,       kTextA | kStale | kNone},
/* 91 Internal       */ {0,                                0,        0,                  0,               0,         0,            0},
/* 92 INVIEW         */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
/* 93 ENDVIEW        */ {isOpen,                           0,        0,                  0,               0,         kClear,       0},
}};
// clang-format on

// Consistency of the table, checked when it is compiled.
constexpr bool rowsConsistent() {
  constexpr std::uint32_t kActionBits = kClearError | kDiscardFile;
  for (std::size_t code = 1; code < kRules.size(); ++code) {
    const OperationRule& r = kRules[code];
    if ((r.sets & r.clears) != 0) return false;
    if ((r.afterSuccess & ~kActionBits) != 0) return false;
    // indexBuilt is only ever set on a key argument, never cleared.
    if ((r.sets & indexBuilt) != 0 && !r.has(kTakesKey)) return false;
    if (((r.clears | r.failureClears | r.refusedIf) & indexBuilt) != 0) return false;
    if (r.has(kPopsTextB) && !r.has(kPopsTextA)) return false;
    if (r.has(kTakesPosition) && !r.has(kPopsTextA)) return false;
  }
  return true;
}
static_assert(rowsConsistent());

}  // namespace

const OperationRule* findOperationRule(int code) {
  if (code < kFirstRuleCode || code > kLastRuleCode) return nullptr;
  return &kRules[static_cast<std::size_t>(code)];
}

}  // namespace qbx::driver
