// The rule check and the application of the rules: the order of refusals,
// silent refusals, the closed-file pass, key arguments, and the state a
// sequence of calls leaves behind.
#include "qbx/driver/rule_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "qbx/driver/file_state.h"

namespace qbx::driver {
namespace {

using namespace flag;

// Operation codes used here.
constexpr int kAdd = 1;
constexpr int kBof = 2;
constexpr int kBuildFile = 3;
constexpr int kBuildDyn = 5;
constexpr int kBuildKey = 6;
constexpr int kClose = 7;
constexpr int kCommit = 8;
constexpr int kCopy = 9;
constexpr int kCreate = 10;
constexpr int kDelete = 11;
constexpr int kEmpty = 13;
constexpr int kLockFile = 20;
constexpr int kLogout = 22;
constexpr int kName = 23;
constexpr int kNext = 24;
constexpr int kOpen = 25;
constexpr int kPack = 26;
constexpr int kPointerKey = 28;
constexpr int kFlush = 29;
constexpr int kPut = 30;
constexpr int kRecordsFile = 32;
constexpr int kRemove = 37;
constexpr int kRename = 38;
constexpr int kRollback = 40;
constexpr int kSetFile = 41;
constexpr int kSetKey = 44;
constexpr int kSkip = 49;
constexpr int kUnlock = 50;
constexpr int kStream = 56;
constexpr int kSend = 60;
constexpr int kResetFile = 63;
constexpr int kRegetKey = 67;
constexpr int kGetProperty = 72;
constexpr int kQueryKey = 73;
constexpr int kBuffer = 80;
constexpr int kBuildEvent = 84;
constexpr int kDoPropertyKey = 89;

constexpr std::uint32_t kOpenRw = isOpen | writable;
constexpr std::uint32_t kOpenRwExclusive = isOpen | writable | exclusive;

// One call as the driver entry makes it, as far as the rules go: zero the
// actions, check, run a handler that gives handlerResult, apply the rules.
// Returns the call's result.
int call(FileState& file, int code, int handlerResult = 0, KeyArgument* key = nullptr,
         std::string_view text = {}) {
  file.actions = 0;
  const RuleVerdict verdict = checkRules(code, file.state, key, text);
  const int result = verdict.result != 0 ? verdict.result : handlerResult;
  applyRules(code, result, file, key);
  return result;
}

struct RefusalCase {
  const char* what;
  int code;
  std::uint32_t state;
  // Key argument, when the code takes one.
  bool withKey;
  bool keyOfThisFile;
  bool keyDynamic;
  bool keyBuilt;
  const char* text;
  int expected;
};

// Each group starts from a state that several refusals apply to and removes
// the cause of the first one in the next case, so that the order shows.
constexpr RefusalCase kRefusals[] = {
    // Key of another file before everything else, then the open file.
    {"SETkey, closed, foreign key", kSetKey, 0, true, false, true, false, "", 38},
    {"SETkey, closed, own unbuilt dynamic key", kSetKey, 0, true, true, true, false, "", 37},
    {"SETkey without a key", kSetKey, isOpen, false, false, false, false, "", 38},
    // indexBuilt before a current record.
    {"POINTERkey, unbuilt dynamic key, no record", kPointerKey, isOpen, true, true, true, false, "",
     46},
    {"POINTERkey, built dynamic key, no record", kPointerKey, isOpen, true, true, true, true, "",
     33},
    {"POINTERkey, static key, no record", kPointerKey, isOpen, true, true, false, false, "", 33},
    {"POINTERkey, static key not marked built", kPointerKey, isOpen | hasRecord, true, true, false,
     false, "", 0},
    // QUERY_KEY needs indexBuilt but has no key argument to test it on.
    {"QUERY_KEY", kQueryKey, isOpen, false, false, false, false, "", 0},
    // A current record before write access; exclusive before write access.
    {"PUT, read-only, no record", kPut, isOpen, false, false, false, false, "", 33},
    {"PUT, read-only, record", kPut, isOpen | hasRecord, false, false, false, false, "", 5},
    {"DELETE, read-only, no record", kDelete, isOpen, false, false, false, false, "", 33},
    {"EMPTY, read-only, shared", kEmpty, isOpen, false, false, false, false, "", 63},
    {"EMPTY, writable, shared", kEmpty, kOpenRw, false, false, false, false, "", 63},
    {"EMPTY, read-only, exclusive", kEmpty, isOpen | exclusive, false, false, false, false, "", 5},
    {"EMPTY, exclusive, in LOGOUT", kEmpty, kOpenRwExclusive | inLogout, false, false, false, false,
     "", 56},
    // The build operations run on a closed file; on an open one they need
    // write access denying others.
    {"BUILDfile, closed", kBuildFile, 0, false, false, false, false, "", 0},
    {"BUILDkey, closed", kBuildKey, 0, true, true, false, false, "", 0},
    {"PACK, closed", kPack, 0, false, false, false, false, "", 0},
    {"BUILDevent, closed", kBuildEvent, 0, false, false, false, false, "", 0},
    {"BUILDfile, open shared", kBuildFile, kOpenRw, false, false, false, false, "", 63},
    {"BUILDfile, open read-only exclusive", kBuildFile, isOpen | exclusive, false, false, false,
     false, "", 5},
    {"BUILDfile, open exclusive", kBuildFile, kOpenRwExclusive, false, false, false, false, "", 0},
    {"BUILDfile, open exclusive, in LOGOUT", kBuildFile, kOpenRwExclusive | inLogout, false, false,
     false, false, "", 56},
    // Missing flags that refuse silently; a missing flag wins over a forbidden.
    {"COMMIT without LOGOUT", kCommit, isOpen, false, false, false, false, "", kSilentRefusal},
    {"ROLLBACK without LOGOUT", kRollback, isOpen, false, false, false, false, "", kSilentRefusal},
    {"UNLOCK not locked", kUnlock, isOpen, false, false, false, false, "", kSilentRefusal},
    {"UNLOCK not locked, in LOGOUT", kUnlock, isOpen | inLogout, false, false, false, false, "",
     kSilentRefusal},
    {"UNLOCK locked, in LOGOUT", kUnlock, isOpen | locked | inLogout, false, false, false, false, "",
     56},
    {"COMMIT on a closed file", kCommit, 0, false, false, false, false, "", 37},
    // Forbidden flags.
    {"OPEN on an open file", kOpen, isOpen, false, false, false, false, "", 52},
    {"CREATE on an open file", kCreate, isOpen, false, false, false, false, "", 52},
    {"CLOSE in LOGOUT", kClose, isOpen | inLogout, false, false, false, false, "", 56},
    {"LOGOUT twice", kLogout, isOpen | inLogout, false, false, false, false, "", 56},
    {"STREAM twice", kStream, isOpen | streamed, false, false, false, false, "", kSilentRefusal},
    {"LOCKfile twice", kLockFile, isOpen | locked, false, false, false, false, "", kSilentRefusal},
    // A deferred build refuses what would pass, but not what is refused anyway.
    {"NEXT while building", kNext, isOpen | sequenced | building, false, false, false, false, "",
     92},
    {"NEXT unsequenced while building", kNext, isOpen | building, false, false, false, false, "",
     33},
    {"NEXT closed while building", kNext, building, false, false, false, false, "", 37},
    {"OPEN open while building", kOpen, isOpen | building, false, false, false, false, "", 92},
    {"CLOSE while building", kClose, isOpen | building, false, false, false, false, "", 0},
    {"NAME while building", kName, isOpen | building, false, false, false, false, "", 0},
    {"GET_PROPERTY while building", kGetProperty, isOpen | building, false, false, false, false, "",
     0},
    {"BUILDevent while building", kBuildEvent, kOpenRwExclusive | building, false, false, false,
     false, "", 0},
    // A blank position, only once everything else passed.
    {"RESETfile, empty position", kResetFile, isOpen, false, false, false, false, "", 35},
    {"RESETfile, blank position", kResetFile, isOpen, false, false, false, false, "    ", 35},
    {"RESETfile, position", kResetFile, isOpen, false, false, false, false, "  \x01 ", 0},
    {"RESETfile, blank position, closed", kResetFile, 0, false, false, false, false, "", 37},
    {"RESETfile, blank position, building", kResetFile, isOpen | building, false, false, false,
     false, "", 92},
    {"REGETkey, blank position, unbuilt dynamic", kRegetKey, isOpen, true, true, true, false, " ",
     46},
    {"NEXT ignores the text", kNext, isOpen | sequenced, false, false, false, false, "", 0},
    // No handler: the rule check comes first, 80 last.
    {"BUFFER on a closed file", kBuffer, 0, false, false, false, false, "", 37},
    {"BUFFER on an open file", kBuffer, isOpen, false, false, false, false, "", 80},
    {"DOPROPERTYkey, foreign key", kDoPropertyKey, 0, true, false, false, false, "", 38},
    {"DOPROPERTYkey, own key", kDoPropertyKey, 0, true, true, false, false, "", 80},
    {"code 0", 0, isOpen, false, false, false, false, "", 80},
    {"code 94", 94, isOpen, false, false, false, false, "", 80},
    {"code -1", -1, isOpen, false, false, false, false, "", 80},
};

TEST(RuleCheck, RefusesInOrder) {
  for (const RefusalCase& c : kRefusals) {
    SCOPED_TRACE(c.what);
    std::uint32_t keyState = c.keyBuilt ? indexBuilt : 0;
    KeyArgument key{&keyState, c.keyDynamic, c.keyOfThisFile};
    const RuleVerdict verdict = checkRules(c.code, c.state, c.withKey ? &key : nullptr, c.text);
    EXPECT_EQ(verdict.result, c.expected);
  }
}

TEST(RuleCheck, KeyArgumentIgnoredForCodesWithoutKeys) {
  // A foreign key handed to NEXT is no key argument of NEXT.
  std::uint32_t keyState = 0;
  KeyArgument foreign{&keyState, true, false};
  EXPECT_EQ(checkRules(kNext, isOpen | sequenced, &foreign).result, 0);
}

TEST(RuleCheck, DeclarationRefreshedOnlyForClosedFileOperations) {
  struct Case {
    const char* what;
    int code;
    std::uint32_t state;
    bool refresh;
  };
  const Case kCases[] = {
      {"OPEN closed", kOpen, 0, true},
      {"CREATE closed", kCreate, 0, true},
      {"REMOVE closed", kRemove, 0, true},
      {"RENAME closed", kRename, 0, true},
      {"COPY closed", kCopy, 0, true},
      {"NAME closed", kName, 0, true},
      {"BUILDfile closed", kBuildFile, 0, true},
      {"SEND closed", kSend, 0, true},
      {"NAME open", kName, isOpen, false},
      {"SEND open", kSend, isOpen, false},
      {"BUILDfile open", kBuildFile, kOpenRwExclusive, false},
      {"OPEN refused", kOpen, isOpen, false},
      {"NEXT", kNext, isOpen | sequenced, false},
      {"DOPROPERTYkey has no handler", kDoPropertyKey, 0, false},
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
      {"OPEN", kOpen, 0, isOpen, kClearError},
      {"SETfile", kSetFile, isOpen, isOpen | sequenced, kClearError},
      {"NEXT", kNext, isOpen | sequenced, isOpen | sequenced | hasRecord, kClearError},
      {"SKIP", kSkip, isOpen | sequenced | hasRecord, isOpen | sequenced, kClearError},
      {"PACK", kPack, kOpenRwExclusive | sequenced | hasRecord, kOpenRwExclusive, kClearError},
      {"LOCKfile", kLockFile, kOpenRw, kOpenRw | locked | exclusive, kClearError},
      {"UNLOCK keeps exclusive", kUnlock, kOpenRw | locked | exclusive, kOpenRw | exclusive,
       kClearError},
      {"FLUSH", kFlush, isOpen | streamed, isOpen, kClearError},
      {"COMMIT", kCommit, isOpen | inLogout, isOpen, kClearError},
      {"SEND", kSend, 0, propertiesSet, kClearError},
      {"CLOSE", kClose, kOpenRw | hasRecord, writable | hasRecord, kClearError | kDiscardFile},
      {"CREATE", kCreate, 0, 0, kClearError | kDiscardFile},
      {"RECORDSfile keeps the posted error", kRecordsFile, isOpen, isOpen, 0},
      {"BOF", kBof, isOpen | sequenced, isOpen | sequenced, 0},
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
      {"NEXT at the end", kNext, 33, isOpen | sequenced | hasRecord, isOpen, 0},
      {"SKIP fails", kSkip, 33, isOpen | sequenced | hasRecord, isOpen, 0},
      {"SETfile fails", kSetFile, 35, isOpen | sequenced, isOpen, 0},
      {"PUT fails keeps the record", kPut, 89, kOpenRw | hasRecord, kOpenRw | hasRecord, 0},
      {"any call failing with 37 discards", kNext, 37, propertiesSet, propertiesSet, kDiscardFile},
      {"CREATE fails", kCreate, 54, 0, 0, kDiscardFile},
      {"REMOVE fails", kRemove, 2, 0, 0, kDiscardFile},
      {"RENAME on an open file keeps it", kRename, 52, isOpen, isOpen, 0},
      {"CREATE on an open file keeps it", kCreate, 52, isOpen, isOpen, 0},
      {"CLOSE whose commit fails still discards", kClose, 39, kOpenRw, kOpenRw, kDiscardFile},
      // Refused during a transaction, the file stays open with its state.
      {"CLOSE in LOGOUT keeps the file", kClose, 56, isOpen | inLogout, isOpen | inLogout, 0},
      {"OPEN fails: the handler adds discard itself", kOpen, 2, 0, 0, 0},
      {"silent STREAM is a failure", kStream, kSilentRefusal, isOpen | streamed,
       isOpen | streamed, 0},
      {"silent COMMIT keeps nothing set", kCommit, kSilentRefusal, isOpen, isOpen, 0},
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
    applyRules(kBuildDyn, c.result, file, &key);
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
    int code;
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
    EXPECT_EQ(call(file, c.code), kSilentRefusal);
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
