// The rule check and the application of the rules: the order of refusals,
// silent refusals, the closed-file pass, key arguments, and the state a
// sequence of calls leaves behind.
#include "qbx/driver/rule_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fileaccess/driver_op.h"
#include "qbx/driver/file_state.h"

namespace qbx::driver {
namespace {

using namespace flag;

using fileaccess::DriverOp;
using fileaccess::opCode;
using enum fileaccess::DriverOp;

constexpr std::uint32_t kOpenRw = isOpen | writable;
constexpr std::uint32_t kOpenRwExclusive = isOpen | writable | exclusive;

// One call as the driver entry makes it, as far as the rules go: zero the
// actions, check, run a handler that gives handlerResult, apply the rules.
// Returns the call's result.
int call(FileState& file, DriverOp op, int handlerResult = 0, KeyArgument* key = nullptr,
         std::string_view text = {}) {
  const int code = opCode(op);
  file.actions = 0;
  const RuleVerdict verdict = checkRules(code, file.state, key, text);
  const int result = verdict.result != 0 ? verdict.result : handlerResult;
  applyRules(code, result, file, key);
  return result;
}

// The key argument of a case.
enum class Key { kNone, kForeign, kStatic, kUnbuiltIndex, kBuiltIndex };

struct RefusalCase {
  const char* what;
  int code;
  std::uint32_t state;
  Key key;
  const char* text;
  int expected;
};

// Each group starts from a state that several refusals apply to and removes
// the cause of the first one in the next case, so that the order shows.
constexpr RefusalCase kRefusals[] = {
    // Key of another file before everything else, then the open file.
    {"SETkey, closed, foreign key", opCode(kSetKey), 0, Key::kForeign, "", 38},
    {"SETkey, closed, own unbuilt dynamic key", opCode(kSetKey), 0, Key::kUnbuiltIndex, "", 37},
    {"SETkey without a key", opCode(kSetKey), isOpen, Key::kNone, "", 38},
    // indexBuilt before a current record.
    {"POINTERkey, unbuilt dynamic key, no record", opCode(kPointerKey), isOpen, Key::kUnbuiltIndex,
     "", 46},
    {"POINTERkey, built dynamic key, no record", opCode(kPointerKey), isOpen, Key::kBuiltIndex, "",
     33},
    {"POINTERkey, static key, no record", opCode(kPointerKey), isOpen, Key::kStatic, "", 33},
    {"POINTERkey, static key not marked built", opCode(kPointerKey), isOpen | hasRecord,
     Key::kStatic, "", 0},
    // QUERY_KEY needs indexBuilt but has no key argument to test it on.
    {"QUERY_KEY", opCode(kQueryKey), isOpen, Key::kNone, "", 0},
    // A current record before write access; exclusive before write access.
    {"PUT, read-only, no record", opCode(kPut), isOpen, Key::kNone, "", 33},
    {"PUT, read-only, record", opCode(kPut), isOpen | hasRecord, Key::kNone, "", 5},
    {"DELETE, read-only, no record", opCode(kDelete), isOpen, Key::kNone, "", 33},
    {"EMPTY, read-only, shared", opCode(kEmpty), isOpen, Key::kNone, "", 63},
    {"EMPTY, writable, shared", opCode(kEmpty), kOpenRw, Key::kNone, "", 63},
    {"EMPTY, read-only, exclusive", opCode(kEmpty), isOpen | exclusive, Key::kNone, "", 5},
    {"EMPTY, exclusive, in LOGOUT", opCode(kEmpty), kOpenRwExclusive | inLogout, Key::kNone, "",
     56},
    // The build operations run on a closed file; on an open one they need
    // write access denying others.
    {"BUILDfile, closed", opCode(kBuildFile), 0, Key::kNone, "", 0},
    {"BUILDkey, closed", opCode(kBuildKey), 0, Key::kStatic, "", 0},
    {"PACK, closed", opCode(kPack), 0, Key::kNone, "", 0},
    {"BUILDevent, closed", opCode(kBuildEvent), 0, Key::kNone, "", 0},
    {"BUILDfile, open shared", opCode(kBuildFile), kOpenRw, Key::kNone, "", 63},
    {"BUILDfile, open read-only exclusive", opCode(kBuildFile), isOpen | exclusive, Key::kNone, "",
     5},
    {"BUILDfile, open exclusive", opCode(kBuildFile), kOpenRwExclusive, Key::kNone, "", 0},
    {"BUILDfile, open exclusive, in LOGOUT", opCode(kBuildFile), kOpenRwExclusive | inLogout,
     Key::kNone, "", 56},
    // Missing flags that refuse silently; a missing flag wins over a forbidden.
    {"COMMIT without LOGOUT", opCode(kCommit), isOpen, Key::kNone, "", kSilentRefusal},
    {"ROLLBACK without LOGOUT", opCode(kRollback), isOpen, Key::kNone, "", kSilentRefusal},
    {"UNLOCK not locked", opCode(kUnlock), isOpen, Key::kNone, "", kSilentRefusal},
    {"UNLOCK not locked, in LOGOUT", opCode(kUnlock), isOpen | inLogout, Key::kNone, "",
     kSilentRefusal},
    {"UNLOCK locked, in LOGOUT", opCode(kUnlock), isOpen | locked | inLogout, Key::kNone, "", 56},
    {"COMMIT on a closed file", opCode(kCommit), 0, Key::kNone, "", 37},
    // Forbidden flags.
    {"OPEN on an open file", opCode(kOpen), isOpen, Key::kNone, "", 52},
    {"CREATE on an open file", opCode(kCreate), isOpen, Key::kNone, "", 52},
    {"CLOSE in LOGOUT", opCode(kClose), isOpen | inLogout, Key::kNone, "", 56},
    {"LOGOUT twice", opCode(kLogout), isOpen | inLogout, Key::kNone, "", 56},
    {"STREAM twice", opCode(kStream), isOpen | streamed, Key::kNone, "", kSilentRefusal},
    {"LOCKfile twice", opCode(kLockFile), isOpen | locked, Key::kNone, "", kSilentRefusal},
    // A deferred build refuses what would pass, but not what is refused anyway.
    {"NEXT while building", opCode(kNext), isOpen | sequenced | building, Key::kNone, "", 92},
    {"NEXT unsequenced while building", opCode(kNext), isOpen | building, Key::kNone, "", 33},
    {"NEXT closed while building", opCode(kNext), building, Key::kNone, "", 37},
    {"OPEN open while building", opCode(kOpen), isOpen | building, Key::kNone, "", 92},
    {"CLOSE while building", opCode(kClose), isOpen | building, Key::kNone, "", 0},
    {"NAME while building", opCode(kName), isOpen | building, Key::kNone, "", 0},
    {"GET_PROPERTY while building", opCode(kGetProperty), isOpen | building, Key::kNone, "", 0},
    {"BUILDevent while building", opCode(kBuildEvent), kOpenRwExclusive | building, Key::kNone, "",
     0},
    // A blank position, only once everything else passed.
    {"RESETfile, empty position", opCode(kResetFile), isOpen, Key::kNone, "", 35},
    {"RESETfile, blank position", opCode(kResetFile), isOpen, Key::kNone, "    ", 35},
    {"RESETfile, position", opCode(kResetFile), isOpen, Key::kNone, "  \x01 ", 0},
    {"RESETfile, blank position, closed", opCode(kResetFile), 0, Key::kNone, "", 37},
    {"RESETfile, blank position, building", opCode(kResetFile), isOpen | building, Key::kNone, "",
     92},
    {"REGETkey, blank position, unbuilt dynamic", opCode(kRegetKey), isOpen, Key::kUnbuiltIndex,
     " ", 46},
    {"NEXT ignores the text", opCode(kNext), isOpen | sequenced, Key::kNone, "", 0},
    // No handler: the rule check comes first, 80 last.
    {"BUFFER on a closed file", opCode(kBuffer), 0, Key::kNone, "", 37},
    {"BUFFER on an open file", opCode(kBuffer), isOpen, Key::kNone, "", 80},
    {"DOPROPERTYkey, foreign key", opCode(kDoPropertyKey), 0, Key::kForeign, "", 38},
    {"DOPROPERTYkey, own key", opCode(kDoPropertyKey), 0, Key::kStatic, "", 80},
    {"code 0", 0, isOpen, Key::kNone, "", 80},
    {"code 94", 94, isOpen, Key::kNone, "", 80},
    {"code -1", -1, isOpen, Key::kNone, "", 80},
};

TEST(RuleCheck, RefusesInOrder) {
  for (const RefusalCase& c : kRefusals) {
    SCOPED_TRACE(c.what);
    std::uint32_t keyState = c.key == Key::kBuiltIndex ? indexBuilt : 0;
    const KeyArgument key{&keyState, c.key == Key::kUnbuiltIndex || c.key == Key::kBuiltIndex,
                          c.key != Key::kForeign};
    const RuleVerdict verdict =
        checkRules(c.code, c.state, c.key == Key::kNone ? nullptr : &key, c.text);
    EXPECT_EQ(verdict.result, c.expected);
  }
}

TEST(RuleCheck, KeyArgumentIgnoredForCodesWithoutKeys) {
  // A foreign key handed to NEXT is no key argument of NEXT.
  std::uint32_t keyState = 0;
  KeyArgument foreign{&keyState, true, false};
  EXPECT_EQ(checkRules(opCode(kNext), isOpen | sequenced, &foreign).result, 0);
}

TEST(RuleCheck, DeclarationRefreshedOnlyForClosedFileOperations) {
  struct Case {
    const char* what;
    int code;
    std::uint32_t state;
    bool refresh;
  };
  const Case kCases[] = {
      {"OPEN closed", opCode(kOpen), 0, true},
      {"CREATE closed", opCode(kCreate), 0, true},
      {"REMOVE closed", opCode(kRemove), 0, true},
      {"RENAME closed", opCode(kRename), 0, true},
      {"COPY closed", opCode(kCopy), 0, true},
      {"NAME closed", opCode(kName), 0, true},
      {"BUILDfile closed", opCode(kBuildFile), 0, true},
      {"SEND closed", opCode(kSend), 0, true},
      {"NAME open", opCode(kName), isOpen, false},
      {"SEND open", opCode(kSend), isOpen, false},
      {"BUILDfile open", opCode(kBuildFile), kOpenRwExclusive, false},
      {"OPEN refused", opCode(kOpen), isOpen, false},
      {"NEXT", opCode(kNext), isOpen | sequenced, false},
      {"DOPROPERTYkey has no handler", opCode(kDoPropertyKey), 0, false},
  };
  std::uint32_t keyState = 0;
  KeyArgument own{&keyState, false, true};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(checkRules(c.code, c.state, &own).refreshDeclaration, c.refresh);
  }
}

TEST(ApplyRules, SuccessSetsClearsAndAddsActions) {
  struct Case {
    const char* what;
    int code;
    std::uint32_t before;
    std::uint32_t after;
    std::uint32_t actions;
  };
  const Case kCases[] = {
      {"OPEN", opCode(kOpen), 0, isOpen, kClearError},
      {"SETfile", opCode(kSetFile), isOpen, isOpen | sequenced, kClearError},
      {"NEXT", opCode(kNext), isOpen | sequenced, isOpen | sequenced | hasRecord, kClearError},
      {"SKIP", opCode(kSkip), isOpen | sequenced | hasRecord, isOpen | sequenced, kClearError},
      {"PACK", opCode(kPack), kOpenRwExclusive | sequenced | hasRecord, kOpenRwExclusive,
       kClearError},
      {"LOCKfile", opCode(kLockFile), kOpenRw, kOpenRw | locked | exclusive, kClearError},
      {"UNLOCK keeps exclusive", opCode(kUnlock), kOpenRw | locked | exclusive, kOpenRw | exclusive,
       kClearError},
      {"FLUSH", opCode(kFlush), isOpen | streamed, isOpen, kClearError},
      {"COMMIT", opCode(kCommit), isOpen | inLogout, isOpen, kClearError},
      {"SEND", opCode(kSend), 0, propertiesSet, kClearError},
      {"CLOSE", opCode(kClose), kOpenRw | hasRecord, writable | hasRecord,
       kClearError | kDiscardFile},
      {"CREATE", opCode(kCreate), 0, 0, kClearError | kDiscardFile},
      {"RECORDSfile keeps the posted error", opCode(kRecordsFile), isOpen, isOpen, 0},
      {"BOF", opCode(kBof), isOpen | sequenced, isOpen | sequenced, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FileState file;
    file.state = c.before;
    applyRules(c.code, 0, file, nullptr);
    EXPECT_EQ(file.state, c.after);
    EXPECT_EQ(file.actions, c.actions);
  }
}

TEST(ApplyRules, FailureClearsAndDiscards) {
  struct Case {
    const char* what;
    int code;
    int result;
    std::uint32_t before;
    std::uint32_t after;
    std::uint32_t actions;
  };
  const Case kCases[] = {
      {"NEXT at the end", opCode(kNext), 33, isOpen | sequenced | hasRecord, isOpen, 0},
      {"SKIP fails", opCode(kSkip), 33, isOpen | sequenced | hasRecord, isOpen, 0},
      {"SETfile fails", opCode(kSetFile), 35, isOpen | sequenced, isOpen, 0},
      {"PUT fails keeps the record", opCode(kPut), 89, kOpenRw | hasRecord, kOpenRw | hasRecord, 0},
      {"any call failing with 37 discards", opCode(kNext), 37, propertiesSet, propertiesSet,
       kDiscardFile},
      {"CREATE fails", opCode(kCreate), 54, 0, 0, kDiscardFile},
      {"REMOVE fails", opCode(kRemove), 2, 0, 0, kDiscardFile},
      {"RENAME on an open file keeps it", opCode(kRename), 52, isOpen, isOpen, 0},
      {"CREATE on an open file keeps it", opCode(kCreate), 52, isOpen, isOpen, 0},
      {"CLOSE whose commit fails still discards", opCode(kClose), 39, kOpenRw, kOpenRw,
       kDiscardFile},
      // Refused during a transaction, the file stays open with its state.
      {"CLOSE in LOGOUT keeps the file", opCode(kClose), 56, isOpen | inLogout, isOpen | inLogout,
       0},
      {"OPEN fails: the handler adds discard itself", opCode(kOpen), 2, 0, 0, 0},
      {"silent STREAM is a failure", opCode(kStream), kSilentRefusal, isOpen | streamed,
       isOpen | streamed, 0},
      {"silent COMMIT keeps nothing set", opCode(kCommit), kSilentRefusal, isOpen, isOpen, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FileState file;
    file.state = c.before;
    applyRules(c.code, c.result, file, nullptr);
    EXPECT_EQ(file.state, c.after);
    EXPECT_EQ(file.actions, c.actions);
  }
}

TEST(ApplyRules, CodesWithoutRowChangeNothing) {
  for (int code : {0, 94, -5}) {
    FileState file;
    file.state = isOpen | sequenced;
    applyRules(code, 80, file, nullptr);
    applyRules(code, 0, file, nullptr);
    EXPECT_EQ(file.state, isOpen | sequenced) << code;
    EXPECT_EQ(file.actions, 0u) << code;
  }
}

TEST(ApplyRules, IndexBuiltGoesToTheDynamicKeyOnly) {
  struct Case {
    const char* what;
    bool dynamic;
    int result;
    std::uint32_t keyAfter;
  };
  const Case kCases[] = {
      {"dynamic index built", true, 0, indexBuilt},
      {"static key", false, 0, 0},
      {"build failed", true, 93, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FileState file;
    file.state = isOpen;
    std::uint32_t keyState = 0;
    KeyArgument key{&keyState, c.dynamic, true};
    applyRules(opCode(kBuildDyn), c.result, file, &key);
    EXPECT_EQ(keyState, c.keyAfter);
    EXPECT_EQ(file.state, isOpen);
  }
}

// Sequences of calls: the states the rules leave decide the next call.

TEST(RuleSequence, DynamicIndexUsableOnlyAfterItsBuild) {
  FileState file;
  file.state = isOpen;
  std::uint32_t keyState = 0;
  KeyArgument key{&keyState, true, true};
  EXPECT_EQ(call(file, kSetKey, 0, &key), 46);
  EXPECT_EQ(call(file, kBuildDyn, 0, &key, "+1"), 0);
  EXPECT_EQ(call(file, kSetKey, 0, &key), 0);
  EXPECT_NE(file.state & sequenced, 0u);
}

TEST(RuleSequence, NextBeforeSetAndAfterTheEnd) {
  FileState file;
  file.state = isOpen;
  EXPECT_EQ(call(file, kNext), 33);
  EXPECT_EQ(call(file, kSetFile), 0);
  EXPECT_EQ(call(file, kNext), 0);
  EXPECT_NE(file.state & hasRecord, 0u);
  // The handler meets the end of the file.
  EXPECT_EQ(call(file, kNext, 33), 33);
  EXPECT_EQ(file.state & (hasRecord | sequenced), 0u);
  // Again 33, now from the rule check, until a new SET.
  EXPECT_EQ(call(file, kNext, 0), 33);
  EXPECT_EQ(call(file, kNext, 0), 33);
  EXPECT_EQ(call(file, kSetFile), 0);
  EXPECT_EQ(call(file, kNext), 0);
}

TEST(RuleSequence, BofRefusedBeforeSet) {
  FileState file;
  file.state = isOpen;
  EXPECT_EQ(call(file, kBof), 33);
}

TEST(RuleSequence, SilentRefusalsAskForNoClear) {
  // The call before posted an error; a silently refused call must leave it,
  // so it carries no clear action and the entry posts nothing.
  struct Case {
    const char* what;
    std::uint32_t state;
    DriverOp op;
  };
  const Case kCases[] = {
      {"second STREAM", isOpen | streamed, kStream},
      {"second LOCKfile", isOpen | locked | exclusive, kLockFile},
      {"UNLOCK unlocked", isOpen, kUnlock},
      {"COMMIT without LOGOUT", isOpen, kCommit},
      {"ROLLBACK without LOGOUT", isOpen, kRollback},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FileState file;
    file.state = c.state;
    file.actions = kClearError;  // left from the call before
    EXPECT_EQ(call(file, c.op), kSilentRefusal);
    EXPECT_EQ(file.actions, 0u);
    EXPECT_EQ(file.state, c.state);
  }
}

TEST(RuleSequence, OpenOnAnOpenFileKeepsItOpen) {
  FileState file;
  EXPECT_EQ(call(file, kOpen), 0);
  file.state |= writable | exclusive;  // from the access mode, by the handler
  const std::uint32_t opened = file.state;
  EXPECT_EQ(call(file, kOpen), 52);
  EXPECT_EQ(file.state, opened);
  EXPECT_EQ(file.actions & kDiscardFile, 0u);
}

TEST(RuleSequence, LockUnlockThenBuildOnASharedFile) {
  FileState file;
  file.state = kOpenRw;
  EXPECT_EQ(call(file, kBuildFile), 63);
  EXPECT_EQ(call(file, kLockFile), 0);
  EXPECT_EQ(call(file, kUnlock), 0);
  EXPECT_EQ(call(file, kBuildFile), 0);
}

TEST(RuleSequence, TransactionBlocksCloseUntilCommit) {
  FileState file;
  file.state = kOpenRwExclusive;
  EXPECT_EQ(call(file, kLogout), 0);
  EXPECT_EQ(call(file, kClose), 56);
  EXPECT_EQ(file.actions & kDiscardFile, 0u);
  EXPECT_EQ(call(file, kCommit), 0);
  EXPECT_EQ(call(file, kCommit), kSilentRefusal);
  EXPECT_EQ(call(file, kClose), 0);
  EXPECT_EQ(file.actions, kClearError | kDiscardFile);
}

TEST(RuleSequence, AddMakesACurrentRecordForPut) {
  FileState file;
  file.state = kOpenRw;
  EXPECT_EQ(call(file, kPut), 33);
  EXPECT_EQ(call(file, kAdd), 0);
  EXPECT_EQ(call(file, kPut), 0);
  EXPECT_EQ(call(file, kDelete), 0);
  EXPECT_EQ(call(file, kPut), 33);
}

}  // namespace
}  // namespace qbx::driver
