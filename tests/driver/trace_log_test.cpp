// The trace log: its settings from the profile file, the line of a call
// (padding, error texts, time taken), the details (declaration once per
// declared file, record and key values, value forms by type), encrypted
// files, logs that cannot be written, and programs sharing one log.
#include "qbx/driver/trace_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fileaccess/declarations.h"
#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "fileaccess/field_desc.h"
#include "qbx/driver/declaration_dump.h"
#include "qbx/records/table_def_builder.h"
#include "support/child_process.h"
#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace qbx::driver {
namespace {

using fileaccess::DriverOp;
using fileaccess::opCode;
using records::QbxFieldDef;
using records::QbxKeyDef;
using records::QbxTableDef;

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::size_t count(const std::string& text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A declared file with a field of each kind the record dump shows, one key
// and one memo. Its FileBlock lives for the whole test program, as a
// program's declarations do: the log writes a declaration once per
// FileBlock and run, so no two declarations may share an address.
//
//   T:NAME STRING(5) 0, T:CNAME CSTRING(4) 5, T:PNAME PSTRING(4) 9,
//   T:FLAG BYTE 13, T:COUNT LONG 14, T:PRICE DECIMAL(5,2) 18,
//   T:STAMP GROUP 21 (T:DAY DATE 21, T:AT TIME 25); 29 bytes.
//   T:NAMEKEY KEY(+T:NAME,+T:PRICE),DUP; T:NOTES MEMO(20).
class Traced {
 public:
  static Traced& make(std::uint8_t attributes = 0, const char* owner = nullptr,
                      const char* options = nullptr) {
    static std::deque<std::unique_ptr<Traced>> all;
    return *all.emplace_back(new Traced(attributes, owner, options));
  }

  QbxTableDef& def() { return *def_; }
  fileaccess::FileBlock& block() { return block_; }

  // Re-attaches: the definition is built again from the same FileBlock.
  void rebuild() {
    def_.reset();
    ASSERT_EQ(records::buildTableDef(block_, def_), 0);
  }

  // A record whose texts fill their fields without terminators, and a
  // PSTRING whose length byte claims more than its field holds.
  void fillRecord() {
    const std::uint8_t bytes[29] = {
        'A',  'B',  'C',  'D',  'E',  // T:NAME
        'W',  'X',  'Y',  'Z',        // T:CNAME, no zero byte
        200,  'P',  'Q',  'R',        // T:PNAME, length 200
        0x0A,                         // T:FLAG
        0xF9, 0xFF, 0xFF, 0xFF,       // T:COUNT -7
        0x00, 0x12, 0x34,             // T:PRICE 12.34
        25,   12,   0xE7, 0x07,       // T:DAY 25 Dec 2023
        7,    30,   45,   13,         // T:AT 13:45:30.07
    };
    std::memcpy(record_.data(), bytes, sizeof bytes);
    const char notes[] = "Hello, memo world!  ";
    std::memcpy(def_->memos[0].buffer.get(), notes, 20);
  }

 private:
  Traced(std::uint8_t attributes, const char* owner, const char* options) : record_(29, ' ') {
    fileaccess::FieldDescWriter w;
    w.group("")
        .string("T:NAME", 5)
        .cstring("T:CNAME", 4)
        .pstring("T:PNAME", 4)
        .byteField("T:FLAG")
        .longField("T:COUNT")
        .decimal("T:PRICE", 3, 2)
        .group("T:STAMP")
        .fixed(fileaccess::kTypeDate, "T:DAY")
        .fixed(fileaccess::kTypeTime, "T:AT")
        .endGroup()
        .endGroup();
    stream_ = w.finish().value_or(std::vector<std::uint8_t>{});
    key_.label = "T:NAMEKEY";
    key_.labelLength = fileaccess::kTextZeroTerminated;
    key_.keyFlags = fileaccess::kKeyDup;
    key_.componentCount = 2;
    key_.components = components_;
    key_.declaringFile = &block_;
    memo_.label = "T:NOTES";
    memo_.labelLength = fileaccess::kTextZeroTerminated;
    memo_.memoSize = 20;
    block_.name = "T.QBX";
    block_.nameLength = fileaccess::kTextZeroTerminated;
    block_.attributes = attributes;
    block_.owner = owner;
    block_.ownerLength = fileaccess::kTextZeroTerminated;
    block_.driverOptions = options;
    block_.driverOptionsLength = fileaccess::kTextZeroTerminated;
    block_.recordLength = 29;
    block_.recordDesc = stream_.data();
    block_.recordBuffer = record_.data();
    block_.keyCount = 1;
    block_.keyTable = keyTable_;
    block_.memoCount = 1;
    block_.memoTable = memoTable_;
    rebuild();
  }

  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> record_;
  std::int32_t components_[2] = {1, 6};
  fileaccess::KeyDesc key_;
  fileaccess::MemoDesc memo_;
  fileaccess::KeyDesc* keyTable_[1] = {&key_};
  fileaccess::MemoDesc* memoTable_[1] = {&memo_};
  fileaccess::FileBlock block_;
  std::unique_ptr<QbxTableDef> def_;
};

constexpr std::string_view kRecordDump =
    "T:NOTES           \n"
    "  48 65 6C 6C 6F 2C 20 6D 65 6D 6F 20 77 6F 72 6C  | Hello, memo worl\n"
    "  64 21                                            | d!\n"
    "\n"
    "  T:NAME            : 'ABCDE'\n"
    "  T:CNAME           : 'WXYZ'\n"
    "  T:PNAME           : 'PQR'\n"
    "  T:FLAG            : 0AH\n"
    "  T:COUNT           : -7\n"
    "  T:PRICE           : 12.34\n"
    "\n"
    "  T:DAY             : 25 Dec 2023 (132582425)\n"
    "  T:AT              : 13:45:30.07 (221060615)\n"
    "\n";

// Each test gets its own directory with the profile file and the log.
class TraceLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("QUILLBOX_INI");
    hadIni_ = old != nullptr;
    if (hadIni_) savedIni_ = old;
    ::setenv("QUILLBOX_INI", dir_.file("quillbox.ini").c_str(), 1);
    fileaccess::clearError();
  }
  void TearDown() override {
    if (hadIni_) {
      ::setenv("QUILLBOX_INI", savedIni_.c_str(), 1);
    } else {
      ::unsetenv("QUILLBOX_INI");
    }
    fileaccess::clearError();
  }

  void profile(std::string_view section) { writeFile(dir_.file("quillbox.ini"), section); }

  TraceSettings on(bool details = false) {
    TraceSettings s;
    s.traceOn = true;
    s.detailsOn = details;
    s.fileName = log();
    return s;
  }

  std::string log() const { return dir_.file("trace.log"); }
  std::string logText() const { return readFile(log()); }

  support::TempDir dir_;
  bool hadIni_ = false;
  std::string savedIni_;
};

// ---- settings ------------------------------------------------------------------------

TEST_F(TraceLog, SettingsFromTheProfileSection) {
  struct Case {
    const char* what;
    const char* ini;
    std::uint8_t attributes;
    const char* owner;
    const char* options;
    bool traceOn;
    bool detailsOn;
    std::string fileName;
  };
  const std::string longName(300, 'n');
  const Case cases[] = {
      {"no profile file", nullptr, 0, nullptr, nullptr, false, false, ""},
      {"Profile 0 whatever the rest says", "[RDQUILLBOX]\nProfile=0\nTraceFile=x.log\nDetails=1\n",
       0, nullptr, nullptr, false, false, ""},
      {"Profile 1 alone", "[RDQUILLBOX]\nProfile=1\n", 0, nullptr, nullptr, true, false,
       "QUILLBOX.LOG"},
      {"empty TraceFile", "[rdquillbox]\nprofile=1\nTraceFile=\n", 0, nullptr, nullptr, true, false,
       "QUILLBOX.LOG"},
      {"TraceFile and Details", "[RDQUILLBOX]\nProfile=2\nTraceFile=/var/log/q.log\nDetails=1\n", 0,
       nullptr, nullptr, true, true, "/var/log/q.log"},
      {"Details that is no number", "[RDQUILLBOX]\nProfile=1\nDetails=yes\n", 0, nullptr, nullptr,
       true, false, "QUILLBOX.LOG"},
      {"TraceFile cut to 260", nullptr, 0, nullptr, nullptr, true, false, std::string(260, 'n')},
      {"ENCRYPT without ALLOWDETAILS", "[RDQUILLBOX]\nProfile=1\nDetails=1\n",
       fileaccess::kAttrEncrypt, nullptr, "/NOTHING", true, false, "QUILLBOX.LOG"},
      {"ENCRYPT with allowdetails", "[RDQUILLBOX]\nProfile=1\nDetails=1\n",
       fileaccess::kAttrEncrypt, nullptr, "X/allowdetails", true, true, "QUILLBOX.LOG"},
      // The owner text is what enciphers a file: it guards details alike.
      {"owner text without ENCRYPT", "[RDQUILLBOX]\nProfile=1\nDetails=1\n", 0, "pw", nullptr, true,
       false, "QUILLBOX.LOG"},
      {"owner text with ALLOWDETAILS", "[RDQUILLBOX]\nProfile=1\nDetails=1\n", 0, "pw",
       "ALLOWDETAILS", true, true, "QUILLBOX.LOG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.ini != nullptr) {
      profile(c.ini);
    } else if (c.traceOn) {
      profile("[RDQUILLBOX]\nProfile=1\nTraceFile=" + longName + "\n");
    } else {
      std::filesystem::remove(dir_.file("quillbox.ini"));
    }
    QbxTableDef table;
    table.attributes = static_cast<std::uint8_t>(c.attributes >> 1);
    if (c.owner != nullptr) table.owner = c.owner;
    if (c.options != nullptr) table.driverOptions = c.options;
    const TraceSettings s = readTraceSettings(table);
    EXPECT_EQ(s.traceOn, c.traceOn);
    EXPECT_EQ(s.detailsOn, c.detailsOn);
    EXPECT_EQ(s.fileName, c.fileName);
  }
}

TEST(TraceOptions, AllowDetailsIsOneWholeOption) {
  struct Case {
    const char* options;
    bool allows;
  };
  const Case cases[] = {
      {"", false},
      {"ALLOWDETAILS", true},
      {"AllowDetails", true},
      {"/X=1/ allowdetails /Y", true},
      {"ALLOWDETAILSX", false},
      {"NOALLOWDETAILS", false},
      {"ALLOW DETAILS", false},
      {"\"A/ALLOWDETAILS\"", false},  // quoted: one option with its "/"
      {"\"Q\"/ALLOWDETAILS", true},   // the quotes close before it
      {"\"unclosed/ALLOWDETAILS", false},
      {"ALLOWDETAILS,OTHER", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(allowsDetails(c.options), c.allows) << c.options;
  }
}

TEST_F(TraceLog, TraceProperties) {
  TraceSettings s;
  setTraceFileProperty(s, log());
  EXPECT_TRUE(s.traceOn);
  EXPECT_EQ(traceFileProperty(s), log());
  setTraceFileProperty(s, std::string(400, 'x'));
  EXPECT_EQ(s.fileName.size(), kMaxTraceFileName);
  setTraceFileProperty(s, "");
  EXPECT_FALSE(s.traceOn);
  EXPECT_EQ(traceFileProperty(s), "");

  struct Case {
    const char* value;
    bool on;
  };
  for (const Case& c : {Case{"1", true}, Case{"0", false}, Case{"", false}, Case{"-1", true},
                        Case{" 256", true}, Case{"00", false}, Case{"abc", false}}) {
    setDetailsProperty(s, c.value);
    EXPECT_EQ(s.detailsOn, c.on) << c.value;
    EXPECT_EQ(detailsProperty(s), c.on ? "1" : "") << c.value;
  }

  // 29442 writes only while tracing is on.
  writeTraceText(s, "not written");
  EXPECT_FALSE(std::filesystem::exists(log()));
  s = on();
  writeTraceText(s, "first");
  writeTraceText(s, "");
  EXPECT_EQ(logText(), "first\r\n\r\n");
}

// ---- the line ------------------------------------------------------------------------

TEST_F(TraceLog, LinePaddingAndOutcome) {
  QbxTableDef table;
  table.name = "A.RCX";
  QbxKeyDef labelled;
  labelled.label = "T:NAMEKEY";
  labelled.keyNumber = 1;
  QbxKeyDef named;
  named.label = "T:LABEL";
  named.externalName = "ByName";
  named.keyNumber = 12;
  fileaccess::setDriverError("1477", "Possible data corruption in file");

  struct Case {
    const char* what;
    int code;
    const QbxKeyDef* key;
    int result;
    std::int64_t elapsed;
    const char* expected;
  };
  const Case cases[] = {
      {"NEXT at the end of the file", opCode(DriverOp::kNext), nullptr, 33, 3,
       "NEXT(A.RCX 1)     Error: Record Not Available Time Taken: 0.03 secs\r\n"},
      {"STREAM refused silently", opCode(DriverOp::kStream), nullptr, -1, 0,
       "STREAM(A.RCX 1)   Error: Unknown Error Posted : -1 Time Taken: 0.00 secs\r\n"},
      {"90 with the driver text", opCode(DriverOp::kNext), nullptr, 90, 105,
       "NEXT(A.RCX 1)     File Error: Possible data corruption in file Time Taken: 1.05 secs\r\n"},
      {"error without a text", opCode(DriverOp::kOpen), nullptr, 12, 0,
       "OPEN(A.RCX 1)     Error: Unknown Error Posted : 12 Time Taken: 0.00 secs\r\n"},
      {"success", opCode(DriverOp::kSetFile), nullptr, 0, 12345,
       "SETfile(A.RCX 1)  Time Taken: 123.45 secs\r\n"},
      {"key by label, longer than the column", opCode(DriverOp::kSetKeyKey), &labelled, 0, 0,
       "SETkeykey(A.RCX,T:NAMEKEY[1] 1) Time Taken: 0.00 secs\r\n"},
      {"key by its NAME", opCode(DriverOp::kGetFileKey), &named, 35, 0,
       "GETfilekey(A.RCX,ByName[12] 1) Error: Record Not Found Time Taken: 0.00 secs\r\n"},
      {"code outside the table", 200, nullptr, 80, 0,
       "(A.RCX 1)         Error: Unsupported File Driver Function Time Taken: 0.00 secs\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TraceCall call;
    call.code = c.code;
    call.table = &table;
    call.key = c.key;
    call.result = c.result;
    call.elapsed = c.elapsed;
    EXPECT_EQ(traceLineText(call), c.expected);
  }

  // The driver entry may hand the driver text over itself.
  TraceCall call;
  call.code = opCode(DriverOp::kGetFilePtr);
  call.table = &table;
  call.result = 90;
  call.driverErrorText = "Quillbox File Driver Error";
  EXPECT_EQ(traceLineText(call),
            "GETfileptr(A.RCX 1) File Error: Quillbox File Driver Error Time Taken: 0.00 secs\r\n");
}

TEST_F(TraceLog, NextAtTheEndOfTheFileReachesTheLog) {
  QbxTableDef table;
  table.name = "/data/movies.rcx";
  TraceCall call;
  call.code = opCode(DriverOp::kNext);
  call.table = &table;
  call.result = 33;
  call.elapsed = 7;
  writeTrace(on(), call);
  call.result = 0;
  writeTrace(on(), call);
  EXPECT_EQ(logText(),
            "NEXT(/data/movies.rcx 1) Error: Record Not Available Time Taken: 0.07 secs\r\n"
            "NEXT(/data/movies.rcx 1) Time Taken: 0.07 secs\r\n");

  // Nothing for the internal codes, a file without a name, or tracing off.
  for (int code : {87, 91}) {
    call.code = code;
    writeTrace(on(), call);
  }
  call.code = opCode(DriverOp::kNext);
  table.name.clear();
  writeTrace(on(), call);
  table.name = "X";
  TraceSettings off = on();
  off.traceOn = false;
  writeTrace(off, call);
  EXPECT_EQ(count(logText(), "\r\n"), 2u);
}

TEST_F(TraceLog, ThreadsAreNumberedFromTheFirstOne) {
  QbxTableDef table;
  table.name = "F";
  TraceCall call;
  call.code = opCode(DriverOp::kClose);
  call.table = &table;
  EXPECT_EQ(traceLineText(call), "CLOSE(F 1)        Time Taken: 0.00 secs\r\n");
  std::string a;
  std::string b;
  std::thread([&] { a = traceLineText(call); }).join();
  std::thread([&] { b = traceLineText(call); }).join();
  EXPECT_EQ(a.find("CLOSE(F 1)"), std::string::npos) << a;
  EXPECT_NE(a.substr(0, 12), b.substr(0, 12));
  call.threadNumber = 7;
  EXPECT_EQ(traceLineText(call).substr(0, 11), "CLOSE(F 7) ");
}

// ---- details -------------------------------------------------------------------------

TEST_F(TraceLog, DetailsWriteTheDeclarationOnceAndTheRecordEachTime) {
  Traced& t = Traced::make();
  t.fillRecord();
  TraceCall call;
  call.code = opCode(DriverOp::kNext);
  call.table = &t.def();
  call.elapsed = 2;
  call.fileLabel = "TRACED";
  const std::string line = "NEXT(T.QBX 1)     Time Taken: 0.02 secs\r\n";
  writeTrace(on(true), call);
  const std::string declaration = declarationDump(t.def(), "TRACED");
  EXPECT_EQ(logText(), declaration + line + crlf(kRecordDump));
  EXPECT_EQ(declaration.rfind("TRACED            FILE,DRIVER('QUILLBOX'),NAME('T.QBX')\r\n", 0),
            0u);

  // A new attach of the same FileBlock, as after CLOSE and OPEN: the
  // declaration is not written again in this run.
  t.rebuild();
  t.fillRecord();
  call.table = &t.def();
  writeTrace(on(true), call);
  EXPECT_EQ(logText(), declaration + line + crlf(kRecordDump) + line + crlf(kRecordDump));

  // Operations that show no record; SETkeykey shows the key's values.
  std::filesystem::remove(log());
  call.code = opCode(DriverOp::kSetFile);
  writeTrace(on(true), call);
  call.code = opCode(DriverOp::kSetKeyKey);
  call.key = &t.def().keys[0];
  writeTrace(on(true), call);
  EXPECT_EQ(logText(), crlf("SETfile(T.QBX 1)  Time Taken: 0.02 secs\n"
                            "SETkeykey(T.QBX,T:NAMEKEY[0] 1) Time Taken: 0.02 secs\n"
                            "  T:NAME            : 'ABCDE'\n"
                            "  T:PRICE           : 12.34\n"
                            "\n"));
}

TEST_F(TraceLog, BlobValuesComeFromTheCaller) {
  Traced& t = Traced::make();
  t.fillRecord();
  t.def().memos[0].flags = records::kMemoBlob | records::kMemoBinary;
  const std::uint8_t bytes[] = {0x00, 0x7F, 'a', 0x1F, 0, 0};
  const std::span<const std::uint8_t> values[] = {bytes};
  std::string dump = recordDumpText(t.def(), {}, values);
  EXPECT_EQ(dump.substr(0, dump.find("  T:NAME")),
            crlf("T:NOTES           \n"
                 "  00 7F 61 1F                                      | ..a.\n"
                 "\n"));
  // A blob without a value shows its label alone; fields outside the record
  // show no value.
  dump = recordDumpText(t.def(), {});
  EXPECT_EQ(dump.substr(0, dump.find("  T:CNAME")),
            crlf("T:NOTES           \n  T:NAME            : \n"));
}

TEST_F(TraceLog, EncryptedFileContentsNeedAllowDetails) {
  profile("[RDQUILLBOX]\nProfile=1\nDetails=1\nTraceFile=" + log() + "\n");
  struct Case {
    const char* what;
    std::uint8_t attributes;
    const char* owner;
    const char* options;
    bool contents;
  };
  const Case cases[] = {
      {"ENCRYPT", fileaccess::kAttrEncrypt, "secret", nullptr, false},
      {"ENCRYPT with another option", fileaccess::kAttrEncrypt, "secret", "/FAST", false},
      {"ENCRYPT, ALLOWDETAILS in lower case", fileaccess::kAttrEncrypt, "secret", "/allowdetails",
       true},
      {"not encrypted", 0, nullptr, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(log());
    Traced& t = Traced::make(c.attributes, c.owner, c.options);
    t.fillRecord();
    TraceCall call;
    call.code = opCode(DriverOp::kNext);
    call.table = &t.def();
    writeTrace(readTraceSettings(t.def()), call);
    const std::string text = logText();
    EXPECT_NE(text.find("NEXT(T.QBX 1)"), std::string::npos);
    EXPECT_EQ(text.find("ABCDE") != std::string::npos, c.contents);
    EXPECT_EQ(text.find("Hello") != std::string::npos, c.contents);
    EXPECT_EQ(text.find("secret"), std::string::npos);
  }

  // Details from the profile, then an owner text set before OPEN: the file
  // is encrypted now, and its contents stay out of the log.
  std::filesystem::remove(log());
  Traced& later = Traced::make();
  later.fillRecord();
  TraceSettings settings = readTraceSettings(later.def());
  ASSERT_TRUE(settings.detailsOn);
  later.def().owner = "secret";
  TraceCall call;
  call.code = opCode(DriverOp::kNext);
  call.table = &later.def();
  writeTrace(settings, call);
  EXPECT_EQ(logText(), "NEXT(T.QBX 1)     Time Taken: 0.00 secs\r\n");

  // The program itself may switch details on (property 29481).
  setDetailsProperty(settings, "1");
  writeTrace(settings, call);
  EXPECT_NE(logText().find("'ABCDE'"), std::string::npos);
}

TEST(TraceValues, FormsByType) {
  struct Case {
    const char* what;
    std::uint8_t type;
    std::uint32_t size;
    std::vector<std::uint8_t> bytes;
    const char* expected;
    std::uint8_t places = 0;
  };
  const Case cases[] = {
      {"BYTE", fileaccess::kTypeByte, 1, {0xFF}, "FFH"},
      {"SHORT", fileaccess::kTypeShort, 2, {0x00, 0x80}, "-32768"},
      {"USHORT", fileaccess::kTypeUshort, 2, {0x00, 0x80}, "32768"},
      {"LONG", fileaccess::kTypeLong, 4, {0, 0, 0, 0x80}, "-2147483648"},
      {"ULONG", fileaccess::kTypeUlong, 4, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"DATE", fileaccess::kTypeDate, 4, {1, 1, 0xD0, 0x07}, "01 Jan 2000 (131072257)"},
      {"DATE day 0", fileaccess::kTypeDate, 4, {0, 1, 0xD0, 0x07}, "Invalid date (131072256)"},
      {"DATE month 13", fileaccess::kTypeDate, 4, {1, 13, 0, 0}, "Invalid date (3329)"},
      {"TIME", fileaccess::kTypeTime, 4, {99, 59, 59, 23}, "23:59:59.99 (389757795)"},
      {"TIME hour 24", fileaccess::kTypeTime, 4, {0, 0, 0, 24}, "Invalid time (402653184)"},
      {"TIME second 60", fileaccess::kTypeTime, 4, {0, 60, 0, 0}, "Invalid time (15360)"},
      {"SREAL", fileaccess::kTypeSreal, 4, {0, 0, 0xC0, 0x3F}, "1.500000"},
      {"REAL", fileaccess::kTypeReal, 8, {0, 0, 0, 0, 0, 0, 0x04, 0xC0}, "-2.5"},
      {"BFLOAT8", fileaccess::kTypeBfloat8, 8, {0, 0, 0, 0, 0, 0, 0x20, 0x82}, "2.5"},
      {"BFLOAT8 zero", fileaccess::kTypeBfloat8, 8, {1, 2, 3, 4, 5, 6, 7, 0}, "0"},
      {"DECIMAL", fileaccess::kTypeDecimal, 4, {0xF0, 0x00, 0x05, 0x00}, "-5.00", 2},
      {"STRING by its size", fileaccess::kTypeString, 3, {'a', 'b', 'c', 'd'}, "'abc'"},
      {"CSTRING to its zero", fileaccess::kTypeCstring, 4, {'h', 'i', 0, 'x'}, "'hi'"},
      {"CSTRING without a zero", fileaccess::kTypeCstring, 2, {'h', 'i', 'x'}, "'hi'"},
      {"PSTRING", fileaccess::kTypePstring, 4, {2, 'o', 'k', 'x'}, "'ok'"},
      {"PSTRING clamped", fileaccess::kTypePstring, 3, {255, 'o', 'k', 'x'}, "'ok'"},
      {"field beyond the record", fileaccess::kTypeLong, 4, {1, 2, 3}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QbxFieldDef f;
    f.type = c.type;
    f.totalSize = c.size;
    f.places = c.places;
    f.elementSize = static_cast<std::uint8_t>(c.size);
    f.elementLength = c.size;
    EXPECT_EQ(fieldValueText(f, c.bytes), std::string_view(c.expected));
  }
}

TEST(TraceValues, StringWithAZeroByteKeepsItsLength) {
  QbxFieldDef f;
  f.type = fileaccess::kTypeString;
  f.totalSize = 3;
  f.elementLength = 3;
  const std::uint8_t bytes[] = {'a', 0, 'c'};
  EXPECT_EQ(fieldValueText(f, bytes), std::string("'a\0c'", 5));

  // A dimensioned field shows its first element, at its offset.
  f.offset = 1;
  f.elementCount = 2;
  f.totalSize = 2;
  f.elementLength = 1;
  EXPECT_EQ(fieldValueText(f, bytes), std::string("'\0'", 3));
}

// ---- failing logs ----------------------------------------------------------------------

TEST_F(TraceLog, UnwritableLogChangesNothing) {
  Traced& t = Traced::make();
  t.fillRecord();
  fileaccess::postError(33);
  TraceCall call;
  call.code = opCode(DriverOp::kNext);
  call.table = &t.def();
  call.result = 33;

  for (const std::string& name : {dir_.path(), dir_.file("missing/trace.log"), std::string()}) {
    SCOPED_TRACE(name);
    TraceSettings s = on(true);
    s.fileName = name;
    errno = 4711;
    writeTrace(s, call);
    writeTraceText(s, "text");
    EXPECT_EQ(errno, 4711);
    EXPECT_EQ(fileaccess::ERRORCODE(), 33);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
  }

  // A full disk: nothing is written, and the declaration that did not reach
  // the log comes with the next line that does.
  {
    support::FaultFile faults;
    faults.failWrite(1, ENOSPC, true);
    errno = 4711;
    writeTrace(on(true), call);
    EXPECT_EQ(errno, 4711);
    EXPECT_EQ(fileaccess::ERRORCODE(), 33);
    EXPECT_EQ(logText(), "");
  }
  writeTrace(on(true), call);
  const std::string text = logText();
  EXPECT_EQ(text.rfind("T.QBX             FILE,DRIVER('QUILLBOX')", 0), 0u) << text;
  EXPECT_EQ(count(text, "NEXT(T.QBX 1)"), 1u);
}

// ---- the log file ---------------------------------------------------------------------

TEST_F(TraceLog, DefaultLogIsInTheCurrentDirectory) {
  profile("[RDQUILLBOX]\nProfile=1\n");
  support::ChildProcess child([dir = dir_.path()](support::ChildChannel&) {
    if (::chdir(dir.c_str()) != 0) return 1;
    QbxTableDef table;
    table.name = "C.QBX";
    const TraceSettings s = readTraceSettings(table);
    if (!s.traceOn || s.fileName != "QUILLBOX.LOG") return 2;
    TraceCall call;
    call.code = opCode(DriverOp::kOpen);
    call.table = &table;
    writeTrace(s, call);
    return 0;
  });
  EXPECT_TRUE(child.wait().exitedWith(0));
  EXPECT_EQ(readFile(dir_.file("QUILLBOX.LOG")), "OPEN(C.QBX 1)     Time Taken: 0.00 secs\r\n");
}

TEST_F(TraceLog, ProgramsSharingOneLogKeepEveryLine) {
  constexpr int kLines = 300;
  auto writer = [this](char who) {
    return [who, name = log()](support::ChildChannel& ch) {
      TraceSettings s;
      setTraceFileProperty(s, name);
      if (!ch.expect('G', std::chrono::seconds(20))) return 1;
      for (int i = 0; i < kLines; ++i) {
        writeTraceText(s, std::string(1, who) + std::to_string(i) + std::string(60, who));
      }
      return 0;
    };
  };
  support::ChildProcess a(writer('a'));
  support::ChildProcess b(writer('b'));
  a.channel().send('G');
  b.channel().send('G');
  EXPECT_TRUE(a.wait().exitedWith(0));
  EXPECT_TRUE(b.wait().exitedWith(0));

  std::set<std::string> expected;
  for (char who : {'a', 'b'}) {
    for (int i = 0; i < kLines; ++i) {
      expected.insert(std::string(1, who) + std::to_string(i) + std::string(60, who));
    }
  }
  std::set<std::string> seen;
  const std::string text = logText();
  std::size_t at = 0;
  for (std::size_t end = text.find("\r\n"); end != std::string::npos;
       at = end + 2, end = text.find("\r\n", at)) {
    seen.insert(text.substr(at, end - at));
  }
  EXPECT_EQ(at, text.size());
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace qbx::driver
