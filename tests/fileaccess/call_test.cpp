// The call path, the string stack, the files in use, program end and the
// per-thread copies of THREAD declarations, seen through a small driver entry
// that records what reaches it. The entry keeps no records: it only notes the
// calls and enters and removes files the way the driver does.
#include "fileaccess/call.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "fileaccess/files_in_use.h"
#include "fileaccess/program_end.h"
#include "fileaccess/string_stack.h"
#include "fileaccess/thread_copies.h"

namespace fileaccess {
namespace {

struct Seen {
  int op;
  FileBlock* file;
  std::intptr_t words[kMinArgumentWords];
};

std::vector<Seen>& seen() {
  static std::vector<Seen> calls;
  return calls;
}

int attachMarker;
int closeResult = 0;
std::vector<std::string> textsPopped;
std::vector<std::string> events;

// Attaches on the first call, removes the file on a successful CLOSE, and for
// SEND pops A and pushes a reply built from it.
int recordingEntry(int op, FileBlock* file, const std::intptr_t* args) {
  Seen s{op, file, {}};
  std::copy(args, args + kMinArgumentWords, s.words);
  seen().push_back(s);
  if (file->driverState == nullptr) {
    file->driverState = &attachMarker;
    enterFileInUse(*file);
  }
  if (op == opCode(DriverOp::kOpen)) recordAccessMode(*file, static_cast<std::int32_t>(args[0]));
  if (op == opCode(DriverOp::kClose)) {
    events.push_back("close " + std::string(file->name));
    if (closeResult != 0) return closeResult;
    removeFileInUse(*file);
    file->driverState = nullptr;
  }
  if (op == opCode(DriverOp::kSetProperty)) {
    // Pops A then B.
    textsPopped.push_back(stringStack().pop().value_or("<none>"));
    textsPopped.push_back(stringStack().pop().value_or("<none>"));
  }
  if (op == opCode(DriverOp::kSend)) {
    const std::string command = stringStack().pop().value_or("");
    stringStack().push("reply to " + command);
  }
  return op == opCode(DriverOp::kRecordsFile) ? 12345 : 0;
}

class CallPath : public ::testing::Test {
 protected:
  void SetUp() override {
    seen().clear();
    textsPopped.clear();
    events.clear();
    closeResult = 0;
    stringStack().clear();
  }
  void TearDown() override {
    setProgramEndHook(nullptr);
    closeResult = 0;
    programEnd();  // leave no entries behind for the next test
    ASSERT_TRUE(filesInUse().empty());
  }

  // The FileBlocks outlive the test body, so TearDown's program end can close them.
  FileBlock& makeFile(const char* name) {
    FileBlock& f = files_.emplace_back();
    f.driverEntry = recordingEntry;
    f.name = name;
    f.nameLength = kTextZeroTerminated;
    return f;
  }

 private:
  std::deque<FileBlock> files_;
};

TEST(DriverOpNames, AllCodesAndOutside) {
  EXPECT_EQ(driverOpName(0), "(0)");
  EXPECT_EQ(driverOpName(DriverOp::kAdd), "ADD");
  EXPECT_EQ(driverOpName(DriverOp::kBuildFile), "BUILDfile");
  EXPECT_EQ(driverOpName(DriverOp::kNext), "NEXT");
  EXPECT_EQ(driverOpName(35), "(35)");
  EXPECT_EQ(driverOpName(DriverOp::kShare), "SHARE");
  EXPECT_EQ(driverOpName(DriverOp::kNull), "NULL");
  EXPECT_EQ(driverOpName(DriverOp::kBlobSetProp), "BLOB_SET_PROP");
  EXPECT_EQ(driverOpName(87), "Internal");
  EXPECT_EQ(driverOpName(91), "Internal");
  EXPECT_EQ(driverOpName(DriverOp::kEndView), "ENDVIEW");
  EXPECT_EQ(opCode(DriverOp::kEndView), 93);
  EXPECT_EQ(driverOpName(-1), "");
  EXPECT_EQ(driverOpName(94), "");
  for (int code = 0; code < kDriverOpCount; ++code) EXPECT_FALSE(driverOpName(code).empty());
}

TEST_F(CallPath, WordsReachTheEntryInOrderAndTheResultComesBackUnchanged) {
  FileBlock& file = makeFile("a");
  KeyDesc key;
  EXPECT_EQ(Call(DriverOp::kRecordsFile, file), 12345);
  EXPECT_EQ(Call(DriverOp::kOpen, file, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kGetKeyPtr, file, &key, 7u), 0);
  EXPECT_EQ(Call(DriverOp::kBlobYield, file, 3, 1, -1), 0);
  EXPECT_EQ(callDriver(94, file, {}), 0);

  ASSERT_EQ(seen().size(), 5u);
  for (const Seen& s : seen()) EXPECT_EQ(s.file, &file);
  EXPECT_EQ(seen()[0].op, 32);
  EXPECT_EQ(seen()[0].words[0], 0);  // no arguments: the words read as 0
  EXPECT_EQ(seen()[1].words[0], 0x22);
  EXPECT_EQ(reinterpret_cast<KeyDesc*>(seen()[2].words[0]), &key);
  EXPECT_EQ(seen()[2].words[1], 7);
  EXPECT_EQ(seen()[3].words[0], 3);
  EXPECT_EQ(seen()[3].words[1], 1);
  EXPECT_EQ(seen()[3].words[2], -1);
  EXPECT_EQ(seen()[4].op, 94);  // codes the layer does not know still go through
}

TEST_F(CallPath, NoDriverEntryGives80) {
  FileBlock file;
  EXPECT_EQ(Call(DriverOp::kOpen, file, 0x22), kNoDriverEntry);
}

TEST_F(CallPath, TextArgumentsAndResultsTravelOnTheStringStack) {
  FileBlock& file = makeFile("a");
  stringStack().push("property");  // B
  stringStack().push("value");     // A, on top
  EXPECT_EQ(Call(DriverOp::kSetProperty, file, 0), 0);
  EXPECT_EQ(textsPopped, (std::vector<std::string>{"value", "property"}));
  EXPECT_TRUE(stringStack().empty());

  stringStack().push("FLAGS");
  EXPECT_EQ(Call(DriverOp::kSend, file), 0);
  EXPECT_EQ(stringStack().pop(), "reply to FLAGS");
  EXPECT_FALSE(stringStack().pop().has_value());
}

TEST_F(CallPath, StringStackIsPerThread) {
  stringStack().push("main");
  std::size_t otherDepth = 99;
  std::thread([&] { otherDepth = stringStack().size(); }).join();
  EXPECT_EQ(otherDepth, 0u);
  EXPECT_EQ(stringStack().size(), 1u);
}

TEST_F(CallPath, FilesInUseFollowAttachOpenAndClose) {
  FileBlock& first = makeFile("first");
  FileBlock& second = makeFile("second");
  EXPECT_EQ(Call(DriverOp::kOpen, first, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kRecordsFile, second), 12345);
  EXPECT_EQ(Call(DriverOp::kOpen, first, 0x40), 0);  // entered once, mode updated

  auto entries = filesInUse();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].file, &first);
  EXPECT_TRUE(entries[0].opened);
  EXPECT_EQ(entries[0].accessMode, 0x40);
  EXPECT_EQ(entries[1].file, &second);
  EXPECT_FALSE(entries[1].opened);

  EXPECT_EQ(Call(DriverOp::kClose, first), 0);
  entries = filesInUse();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, &second);
}

int hookCalls = 0;
void commitHook() {
  ++hookCalls;
  events.push_back("commit");
}

TEST_F(CallPath, ProgramEndCommitsThenClosesMostRecentFirst) {
  FileBlock& source = makeFile("source");
  FileBlock& target = makeFile("target");
  FileBlock& third = makeFile("third");
  EXPECT_EQ(Call(DriverOp::kOpen, source, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kOpen, target, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kOpen, third, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kClose, third), 0);
  events.clear();
  hookCalls = 0;
  setProgramEndHook(commitHook);

  programEnd();
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(events, (std::vector<std::string>{"commit", "close target", "close source"}));
  EXPECT_TRUE(filesInUse().empty());
}

TEST_F(CallPath, ProgramEndEndsWhenCloseFails) {
  FileBlock& a = makeFile("a");
  FileBlock& b = makeFile("b");
  EXPECT_EQ(Call(DriverOp::kOpen, a, 0x22), 0);
  EXPECT_EQ(Call(DriverOp::kOpen, b, 0x22), 0);
  events.clear();
  closeResult = 56;  // the driver refuses CLOSE and keeps the file entered
  programEnd();
  EXPECT_EQ(events, (std::vector<std::string>{"close b", "close a"}));
  EXPECT_TRUE(filesInUse().empty());
}

TEST_F(CallPath, ThreadDeclarationsGetACopyPerThread) {
  // Declarations are static data, as a program's are: the copies are found by
  // the declaration's address.
  static std::uint8_t record[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  static const std::int32_t components[] = {1};
  static FileBlock file = makeFile("shared");
  static KeyDesc key;
  key.componentCount = 1;
  key.components = components;
  key.declaringFile = &file;
  key.driverKey = &attachMarker;
  static KeyDesc* keys[] = {&key};
  static MemoDesc memo;
  memo.memoSize = 100;
  static MemoDesc* memos[] = {&memo};
  file.attributes = kAttrThread;
  file.recordLength = sizeof record;
  file.recordBuffer = record;
  file.keyCount = 1;
  file.keyTable = keys;
  file.memoCount = 1;
  file.memoTable = memos;
  file.driverState = &attachMarker;  // state of the declaration itself is never handed on

  FileBlock* mainCopy = nullptr;
  bool made = false;
  mainCopy = &threadCopy(file, &made);
  EXPECT_TRUE(made);
  EXPECT_EQ(&threadCopy(file, &made), mainCopy);
  EXPECT_FALSE(made);
  EXPECT_EQ(&threadCopy(*mainCopy), mainCopy);  // a copy is its own copy

  EXPECT_NE(mainCopy, &file);
  EXPECT_EQ(mainCopy->driverState, nullptr);
  EXPECT_NE(mainCopy->recordBuffer, record);
  EXPECT_EQ(std::vector<std::uint8_t>(mainCopy->recordBuffer, mainCopy->recordBuffer + 8),
            std::vector<std::uint8_t>(record, record + 8));
  ASSERT_NE(mainCopy->keyTable, keys);
  const KeyDesc& keyCopy = *mainCopy->keyTable[0];
  EXPECT_EQ(keyCopy.declaringFile, mainCopy);
  EXPECT_EQ(keyCopy.driverKey, nullptr);
  EXPECT_EQ(keyCopy.components, components);
  EXPECT_EQ(mainCopy->memoTable[0]->memoSize, 100u);
  EXPECT_NE(mainCopy->memoTable[0], &memo);

  // Calls go to the calling thread's copy; a thread's copies that are still
  // in use are closed when the thread ends.
  EXPECT_EQ(Call(DriverOp::kOpen, file, 0x22), 0);
  FileBlock* otherCopy = nullptr;
  std::thread([&] {
    EXPECT_EQ(Call(DriverOp::kOpen, file, 0x40), 0);
    otherCopy = seen().back().file;
    EXPECT_TRUE(isFileInUse(*otherCopy));
  }).join();
  ASSERT_EQ(seen().size(), 3u);  // open, open, close at the other thread's end
  EXPECT_EQ(seen()[0].file, mainCopy);
  EXPECT_NE(otherCopy, mainCopy);
  EXPECT_NE(otherCopy, &file);
  EXPECT_EQ(seen()[2].op, opCode(DriverOp::kClose));
  EXPECT_EQ(seen()[2].file, otherCopy);
  const auto entries = filesInUse();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, mainCopy);
  EXPECT_EQ(file.driverState, &attachMarker);  // the declaration itself is untouched
}

}  // namespace
}  // namespace fileaccess
