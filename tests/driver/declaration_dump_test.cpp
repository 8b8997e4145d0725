// The declaration dump: the catalogue's new layout against its reviewed
// text, every attribute a declaration can show, and a definition read back
// from its stored form, which keeps no group member counts.
#include "qbx/driver/declaration_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"
#include "qbx/records/definition_stream.h"
#include "qbx/records/table_def_builder.h"

namespace qbx::driver {
namespace {

using fileaccess::FieldDescWriter;
using fileaccess::FieldOptions;
using records::QbxTableDef;

// A declared file: stream, keys, memos and the FileBlock over them.
class Declared {
 public:
  Declared(const FieldDescWriter& writer, std::uint32_t recordLength, const char* name)
      : record_(recordLength, 0) {
    auto stream = writer.finish();
    EXPECT_TRUE(stream.has_value());
    stream_ = stream.value_or(std::vector<std::uint8_t>{});
    block_.name = name;
    block_.nameLength = fileaccess::kTextZeroTerminated;
    block_.recordLength = recordLength;
    block_.recordDesc = stream_.data();
    block_.recordBuffer = record_.data();
  }

  Declared& key(std::string label, std::vector<std::int32_t> components, std::uint32_t flags,
                const char* nameAttribute = nullptr) {
    auto& k = keys_.emplace_back();
    const std::string& l = texts_.emplace_back(std::move(label));
    const auto& c = components_.emplace_back(std::move(components));
    k.label = l.c_str();
    k.labelLength = fileaccess::kTextZeroTerminated;
    if (nameAttribute != nullptr) {
      k.externalName = nameAttribute;
      k.externalNameLength = fileaccess::kTextZeroTerminated;
    }
    k.keyFlags = flags;
    k.componentCount = static_cast<std::uint8_t>(c.size());
    k.components = c.empty() ? nullptr : c.data();
    k.declaringFile = &block_;
    return *this;
  }

  Declared& memo(std::string label, std::uint32_t size, std::uint8_t flags,
                 const char* nameAttribute = nullptr) {
    auto& m = memos_.emplace_back();
    const std::string& l = texts_.emplace_back(std::move(label));
    m.label = l.c_str();
    m.labelLength = fileaccess::kTextZeroTerminated;
    if (nameAttribute != nullptr) {
      m.externalName = nameAttribute;
      m.externalNameLength = fileaccess::kTextZeroTerminated;
    }
    m.memoSize = size;
    m.memoFlags = flags;
    return *this;
  }

  fileaccess::FileBlock& block() { return block_; }

  std::unique_ptr<QbxTableDef> build() {
    keyPtrs_.clear();
    memoPtrs_.clear();
    for (auto& k : keys_) keyPtrs_.push_back(&k);
    for (auto& m : memos_) memoPtrs_.push_back(&m);
    block_.keyCount = static_cast<std::uint8_t>(keyPtrs_.size());
    block_.memoCount = static_cast<std::uint8_t>(memoPtrs_.size());
    block_.keyTable = keyPtrs_.empty() ? nullptr : keyPtrs_.data();
    block_.memoTable = memoPtrs_.empty() ? nullptr : memoPtrs_.data();
    std::unique_ptr<QbxTableDef> def;
    EXPECT_EQ(records::buildTableDef(block_, def), 0);
    return def;
  }

 private:
  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> record_;
  fileaccess::FileBlock block_;
  std::deque<fileaccess::KeyDesc> keys_;
  std::deque<fileaccess::MemoDesc> memos_;
  std::deque<std::vector<std::int32_t>> components_;
  std::deque<std::string> texts_;
  std::vector<fileaccess::KeyDesc*> keyPtrs_;
  std::vector<fileaccess::MemoDesc*> memoPtrs_;
};

// Expected texts are written with "\n"; the dump ends its lines in CR LF.
std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string readDataFile(const std::string& name) {
  const auto path = std::filesystem::path(__FILE__).parent_path() / "data" / name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The catalogue's new layout (REELCATALOG2): 33 field entries, 22 keys, the
// CREATE attribute, no memos.
Declared catalogueTarget() {
  struct Field {
    const char* name;
    char kind;  // S string, D decimal, B byte, L long, G group of the next two
    std::int32_t length;
  };
  static constexpr Field kFields[] = {
      {"TITLE", 'S', 100},       {"CATEGORY", 'S', 80},   {"STAR1", 'S', 80},
      {"REVIEW", 'S', 15},       {"STAR2", 'S', 80},      {"LENGTH", 'S', 25},
      {"STAR3", 'S', 80},        {"VALUE", 'D', 0},       {"LOCATION", 'S', 50},
      {"COPYDATE", 'S', 50},     {"CONDITION", 'S', 50},  {"CUSTOM1", 'S', 50},
      {"PRODUCER", 'S', 80},     {"CUSTOM2", 'S', 50},    {"DIRECTOR", 'S', 80},
      {"RATING", 'S', 10},       {"LENTTO", 'S', 80},     {"DATELENT", 'S', 30},
      {"GRAPHICFILE", 'S', 120}, {"DELETED", 'B', 0},     {"CREATED", 'G', 0},
      {"CREATEDDATE", 'L', 0},   {"CREATEDTIME", 'L', 0}, {"CHANGED", 'G', 0},
      {"CHANGEDDATE", 'L', 0},   {"CHANGEDTIME", 'L', 0}, {"STARKEY", 'S', 80},
      {"STAR2KEY", 'S', 80},     {"STAR3KEY", 'S', 80},   {"TITLEKEY", 'S', 50},
      {"LISTBYSTARS", 'B', 0},   {"CONTENTS", 'S', 5000}, {"CAST", 'S', 8000},
  };
  FieldDescWriter w;
  w.group("");
  int membersLeft = 0;
  for (const Field& f : kFields) {
    const std::string label = std::string("MOV:") + f.name;
    switch (f.kind) {
      case 'S':
        w.string(label, f.length);
        break;
      case 'D':
        w.decimal(label, 4, 2);
        break;
      case 'B':
        w.byteField(label);
        break;
      case 'L':
        w.longField(label);
        break;
      case 'G':
        w.group(label);
        membersLeft = 3;
        break;
    }
    if (membersLeft > 0 && --membersLeft == 0) w.endGroup();
  }
  w.endGroup();

  static char name[] = "MOVIES.RCX";
  Declared d(w, 14422, name);
  d.block().attributes = fileaccess::kAttrCreate;
  constexpr std::uint32_t kDon = fileaccess::kKeyDup | fileaccess::kKeyOpt | fileaccess::kKeyNocase;
  d.key("MOV:CREATEDKEY", {22, 23, 20}, fileaccess::kKeyDup)
      .key("MOV:DELETEKEY", {20}, kDon)
      .key("MOV:STARSKEY", {}, fileaccess::kKeyIndex | kDon)
      .key("MOV:LENTTOKEY", {17, 18}, kDon)
      .key("MOV:DATELENTKEY", {18, 17}, kDon)
      .key("MOV:STARSKEYKEY", {}, fileaccess::kKeyIndex | kDon)
      .key("MOV:TITLEKEYKEY", {1, 2, 3}, kDon)
      .key("MOV:STAR1KEY", {3, 1, 2}, kDon)
      .key("MOV:STAR2K", {5, 1, 2}, kDon)
      .key("MOV:STAR3K", {7, 1, 2}, kDon)
      .key("MOV:COPYDATEKEY", {10, 1}, kDon)
      .key("MOV:CATEGORYKEY", {2, 1}, kDon)
      .key("MOV:REVIEWKEY", {4, 1}, kDon)
      .key("MOV:CUSTOM2KEY", {14, 1}, kDon)
      .key("MOV:LENTHKEY", {6, 1}, kDon)
      .key("MOV:PRODUCERKEY", {13, 1}, kDon)
      .key("MOV:CONDITIONKEY", {11, 1}, kDon)
      .key("MOV:LOCATIONKEY", {9, 1}, kDon)
      .key("MOV:CUSTOM1KEY", {12, 1}, kDon)
      .key("MOV:DIRECTORKEY", {15, 1}, kDon)
      .key("MOV:RATINGKEY", {16, 1}, kDon)
      .key("MOV:VALUEKEY", {8, 1}, kDon);
  return d;
}

TEST(DeclarationDump, CatalogueMatchesItsReviewedText) {
  Declared d = catalogueTarget();
  auto def = d.build();
  ASSERT_TRUE(def);
  ASSERT_EQ(def->fields.size(), 33u);
  EXPECT_EQ(declarationDump(*def, "REELCATALOG2"), crlf(readDataFile("reelcatalog2.decl")));
}

TEST(DeclarationDump, ShowsEveryAttributeButTheOwnerText) {
  FieldDescWriter w;
  FieldOptions picture;
  picture.picture = "N10.2";
  FieldOptions dims;
  dims.dimensions = {3, 4};
  FieldOptions over;
  over.offsetAdjustment = -4;  // back over T:ID
  FieldOptions external;
  external.nameAttribute = "Kind";
  FieldOptions sameName;
  sameName.nameAttribute = "t:code";
  FieldOptions alias;
  alias.offsetAdjustment = -2;  // back to T:INNER and T:B
  w.group("")
      .longField("T:ID")
      .ulongField("T:IDBYTES", over)
      .string("T:TEXT", 12, picture)
      .cstring("T:CNAME", 20, external)
      .pstring("T:CODE", 8, sameName)
      .shortField("T:GRID", dims)
      .group("T:OUTER")
      .byteField("T:A")
      .group("T:INNER")
      .ushortField("T:B")
      .endGroup()
      .endGroup()
      .group("T:ALIAS", alias)  // its members overlay with it, not by themselves
      .byteField("T:C")
      .pdecimal("T:AMOUNT", 5, 3)  // a type kept only in an overlay
      .endGroup()
      .endGroup();
  static char name[] = "/data/parts.qbx";
  Declared d(w, 100, name);
  static char owner[] = "secret  ";
  static char options[] = "/ALLOWDETAILS";
  d.block().owner = owner;
  d.block().ownerLength = static_cast<std::int32_t>(std::strlen(owner));
  d.block().driverOptions = options;
  d.block().driverOptionsLength = fileaccess::kTextZeroTerminated;
  d.block().attributes = fileaccess::kAttrEncrypt | fileaccess::kAttrReclaim |
                         fileaccess::kAttrThread | fileaccess::kAttrOem;
  d.key("T:IDKEY", {1, -3}, fileaccess::kKeyPrimary, "IdKey")
      .key("T:DYN", {}, fileaccess::kKeyIndex | fileaccess::kKeyNocase)
      .memo("T:NOTES", 100, fileaccess::kMemoBinary, "Notes")
      .memo("T:PHOTO", 0, fileaccess::kMemoBlob);
  auto def = d.build();
  ASSERT_TRUE(def);

  const std::string dump = declarationDump(*def, "PARTS");
  EXPECT_EQ(dump.find("secret"), std::string::npos);
  EXPECT_EQ(dump, crlf("PARTS             FILE,DRIVER('QUILLBOX','/ALLOWDETAILS'),OWNER(******),"
                       "NAME('/data/parts.qbx'),ENCRYPT,RECLAIM,THREAD\n"
                       "T:IDKEY             KEY(+T:ID,-T:TEXT),PRIMARY,NAME(IdKey)\n"
                       "T:DYN               INDEX(),NOCASE\n"
                       "T:NOTES             MEMO(100),NAME(Notes),BINARY\n"
                       "T:PHOTO             BLOB\n"
                       "                    RECORD\n"
                       "T:ID                  LONG\n"
                       "T:IDBYTES             ULONG, OVER(T:ID)\n"
                       "T:TEXT                STRING(@N10.2)\n"
                       "Kind                  CSTRING(20),NAME('Kind')\n"
                       "t:code                PSTRING(8)\n"
                       "T:GRID                SHORT, DIM(12)\n"
                       "T:OUTER               GROUP\n"
                       "T:A                     BYTE\n"
                       "T:INNER                 GROUP\n"
                       "T:B                       USHORT\n"
                       "                        END\n"
                       "                      END\n"
                       "T:ALIAS               GROUP, OVER(T:INNER)\n"
                       "T:C                     BYTE\n"
                       "T:AMOUNT                PDECIMAL(9,3)\n"
                       "                      END\n"
                       "                    END\n"
                       "                  END\n"
                       "\n"));
}

TEST(DeclarationDump, LongLabelsKeepOneBlankAndRecordWithoutFieldsEndsAtOnce) {
  FieldDescWriter w;
  w.group("").byteField("T:AVERYLONGFIELDLABELS").endGroup();
  static char name[] = "X";
  Declared d(w, 1, name);
  auto def = d.build();
  ASSERT_TRUE(def);
  EXPECT_EQ(declarationDump(*def, "A_FILE_LABEL_OF_18"),
            crlf("A_FILE_LABEL_OF_18 FILE,DRIVER('QUILLBOX'),NAME('X')\n"
                 "                    RECORD\n"
                 "T:AVERYLONGFIELDLABELS BYTE\n"
                 "                    END\n"
                 "                  END\n"
                 "\n"));

  def->fields.clear();
  def->name.clear();
  EXPECT_EQ(declarationDump(*def, std::string(2000, 'L')), std::string(kMaxPaddedText, 'L') +
                                                               " FILE,DRIVER('QUILLBOX')\r\n" +
                                                               crlf("                    RECORD\n"
                                                                    "                    END\n"
                                                                    "                  END\n"
                                                                    "\n"));
}

// Chunks kept in memory, as a file keeps them.
class ChunkStore final : public records::DefinitionChunkSink,
                         public records::DefinitionChunkSource {
 public:
  int storeChunk(std::uint16_t chunk, std::span<const std::uint8_t> piece) override {
    if (chunks_.size() <= chunk) chunks_.resize(chunk + 1u);
    chunks_[chunk].assign(piece.begin(), piece.end());
    return 0;
  }
  std::size_t loadChunk(std::uint16_t chunk,
                        std::span<std::uint8_t, records::kDefinitionChunkSize> out) override {
    if (chunk >= chunks_.size()) return 0;
    std::copy(chunks_[chunk].begin(), chunks_[chunk].end(), out.begin());
    return chunks_[chunk].size();
  }

 private:
  std::vector<std::vector<std::uint8_t>> chunks_;
};

TEST(DeclarationDump, StoredDefinitionShowsGroupsByTheirBytes) {
  FieldDescWriter w;
  w.group("")
      .group("T:PAIR")
      .longField("T:FIRST")
      .group("T:TAIL")
      .byteField("T:SECOND")
      .endGroup()
      .endGroup()
      .string("T:AFTER", 3)
      .endGroup();
  static char name[] = "STORED";
  Declared d(w, 8, name);
  d.key("T:K", {2, 5}, fileaccess::kKeyDup);
  auto declared = d.build();
  ASSERT_TRUE(declared);
  const std::string fromDeclaration = declarationDump(*declared, "STORED");

  ChunkStore chunks;
  ASSERT_EQ(records::writeDefinition(*declared, chunks), 0);
  QbxTableDef stored;
  stored.name = "STORED";
  ASSERT_EQ(records::readDefinition(stored, chunks), 0);
  ASSERT_EQ(stored.fields.size(), 5u);
  ASSERT_EQ(stored.fields[0].memberCount, 0u);  // not kept in the file

  // The stored definition keeps names, not labels; here they are the same.
  EXPECT_EQ(declarationDump(stored, "STORED"), fromDeclaration);
  EXPECT_EQ(fromDeclaration, crlf("STORED            FILE,DRIVER('QUILLBOX'),NAME('STORED')\n"
                                  "T:K                 KEY(+T:FIRST,+T:AFTER),DUP\n"
                                  "                    RECORD\n"
                                  "T:PAIR                GROUP\n"
                                  "T:FIRST                 LONG\n"
                                  "T:TAIL                  GROUP\n"
                                  "T:SECOND                  BYTE\n"
                                  "                        END\n"
                                  "                      END\n"
                                  "T:AFTER               STRING(3)\n"
                                  "                    END\n"
                                  "                  END\n"
                                  "\n"));
}

}  // namespace
}  // namespace qbx::driver
