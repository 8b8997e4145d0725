// Writes the seed corpora of the fuzz targets from the real encoders: page
// images and store files written by the store, FieldDesc streams of the
// catalogue's declarations, definition streams of tables built from them,
// profile texts and filter expressions. The seeds are checked in; rerun this
// (scripts/fuzz --seeds) when an encoder changes.
//
//   fuzz_seeds <corpus directory>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert23/catalogue.h"
#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"
#include "platform/endian.h"
#include "qbx/records/definition_stream.h"
#include "qbx/records/table_def_builder.h"
#include "qbx/store/compression.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/format.h"
#include "qbx/store/page.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/page_tree.h"
#include "qbx/store/store.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace qbx::store;

fs::path gCorpus;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = gCorpus / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
    std::exit(1);
  }
}

void writeSeed(const std::string& target, const std::string& name, std::string_view text) {
  writeSeed(target, name, Bytes(text.begin(), text.end()));
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes bigEndian(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
          static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

// An entry keyed like a data record (table 1, kind 0xF3, record number n)
// whose data is a space-padded text, so that pages compress.
EntryPtr recordEntry(std::uint32_t n, std::size_t dataLength) {
  Bytes key = {0, 0, 0, 1, 0xF3};
  const Bytes number = bigEndian(n);
  key.insert(key.end(), number.begin(), number.end());
  Bytes data(dataLength, ' ');
  const std::string text = "Title " + std::to_string(n);
  std::copy_n(text.begin(), std::min(text.size(), data.size()), data.begin());
  return makeEntry(key, data);
}

// ---- pages -----------------------------------------------------------------

struct OwnedPage {
  QbxPage page;
  ~OwnedPage() { freeTree(page.tree); }
};

Bytes encoded(OwnedPage& p, std::int32_t number) {
  p.page.number = number;
  p.page.sizeEstimate = computeSizeEstimate(p.page);
  Bytes image = encodePage(p.page);
  writeBlockFields(p.page, image);
  return image;
}

void pageSeeds() {
  {
    OwnedPage p;  // the root of a new file: the empty-key entry alone
    inPageInsert(p.page.tree, newEntry(0, 0).release());
    writeSeed("store_page_decode", "empty_key_leaf", encoded(p, 0));
  }
  {
    OwnedPage p;  // records sharing key prefixes, compressible data
    inPageInsert(p.page.tree, newEntry(0, 0).release());
    for (std::uint32_t n = 1; n <= 12; ++n) inPageInsert(p.page.tree, recordEntry(n, 40).release());
    writeSeed("store_page_decode", "compressed_leaf", encoded(p, 3));
  }
  {
    OwnedPage p;  // entries of different lengths, data that does not compress
    for (std::uint32_t n = 1; n <= 6; ++n) {
      Bytes key = bigEndian(n * 977);
      Bytes data(n * 3);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(n * 31 + i * 7);
      inPageInsert(p.page.tree, makeEntry(key, data).release());
    }
    writeSeed("store_page_decode", "plain_leaf", encoded(p, 1));
  }
  {
    OwnedPage p;  // an index page: separators with child numbers
    p.page.level = 1;
    for (std::uint32_t n = 0; n < 5; ++n) {
      EntryPtr e = n == 0 ? newEntry(0, 0) : makeEntry(bigEndian(n * 100));
      e->child = 4 + n * 3;
      inPageInsert(p.page.tree, e.release());
    }
    writeSeed("store_page_decode", "index_page", encoded(p, 2));
  }
}

void compressionSeeds() {
  const auto seed = [](const std::string& name, const Bytes& plain) {
    Bytes packed(plain.size() + 10);
    const std::size_t n = compress(plain, packed);
    Bytes input(2);
    platform::storeLe16(input, 0, static_cast<std::uint16_t>(plain.size()));
    input.insert(input.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n));
    writeSeed("store_expand", name, input);
  };
  Bytes spaces(300, ' ');
  std::copy_n("The Big Sleep", 13, spaces.begin());
  seed("text_and_spaces", spaces);
  Bytes runs;
  for (int i = 0; i < 20; ++i) runs.insert(runs.end(), static_cast<std::size_t>(4 + i), static_cast<std::uint8_t>(i));
  seed("many_runs", runs);
  seed("long_run", Bytes(15000, 0));
  Bytes mixed;
  for (int i = 0; i < 200; ++i) mixed.push_back(static_cast<std::uint8_t>(i * 37));
  mixed.insert(mixed.end(), 130, 0xB0);
  seed("literals_then_run", mixed);
}

// ---- store files ---------------------------------------------------------------

constexpr unsigned kCreateExclusive = 0x112;

void storeFileSeeds(const fs::path& scratch) {
  const auto create = [&](const std::string& name, auto&& fill) {
    const fs::path path = scratch / name;
    QbxStore store;
    if (store.open(path.string(), kCreateExclusive, "") != 0) std::exit(1);
    store.enterWriterMode();
    fill(store);
    store.close();
    const Bytes bytes = readFile(path);
    writeSeed("store_open_walk", name, bytes);
    writeSeed("store_open_update", name, bytes);
    writeSeed("store_file_header", name,
              Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(512, bytes.size()))));
  };
  create("empty_tree", [](QbxStore& s) { (void)getRootPage(s); });
  create("one_page", [](QbxStore& s) {
    for (std::uint32_t n = 1; n <= 8; ++n) insert(s, recordEntry(n, 30));
  });
  create("two_levels", [](QbxStore& s) {
    for (std::uint32_t n = 1; n <= 200; ++n) insert(s, recordEntry(n, 40));
  });
  create("large_entries", [](QbxStore& s) {
    // Data that does not compress: pages of several size classes.
    for (std::uint32_t n = 1; n <= 4; ++n) {
      EntryPtr e = recordEntry(n, 700 * n);
      std::span<std::uint8_t> data = e->data();
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + n);
      insert(s, std::move(e));
    }
  });

  // A commit caught between prepare and finish: the header at offset 0
  // points at a pending log holding the new pages and header.
  const fs::path path = scratch / "pending_log";
  QbxStore store;
  if (store.open(path.string(), kCreateExclusive, "") != 0) std::exit(1);
  store.enterWriterMode();
  for (std::uint32_t n = 1; n <= 30; ++n) insert(store, recordEntry(n, 20));
  if (store.commit() != 0) std::exit(1);
  for (std::uint32_t n = 31; n <= 40; ++n) insert(store, recordEntry(n, 20));
  if (store.prepare() != 0) std::exit(1);
  writeSeed("store_open_walk", "pending_log", readFile(path));
  writeSeed("store_open_update", "pending_log", readFile(path));
  if (store.finish() != 0) std::exit(1);
  store.close();

  writeSeed("store_file_header", "fresh", [] {
    FileHeader h;
    h.setMagic();
    return Bytes(h.bytes().begin(), h.bytes().end());
  }());
}

// ---- declarations ---------------------------------------------------------------

Bytes withRecordLength(std::uint32_t length, std::span<const std::uint8_t> stream) {
  Bytes out(4);
  platform::storeLe32(out, 0, length);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

void fieldDescSeeds() {
  writeSeed("fileaccess_field_desc", "catalogue_source",
            withRecordLength(convert23::kRecordLength, convert23::sourceStream()));
  writeSeed("fileaccess_field_desc", "catalogue_target",
            withRecordLength(convert23::kRecordLength, convert23::targetStream()));

  fileaccess::FieldOptions dims;
  dims.dimensions = {3, 2};
  fileaccess::FieldOptions over;
  over.offsetAdjustment = -4;
  fileaccess::FieldOptions named;
  named.nameAttribute = "Title";
  named.picture = "@s20";
  fileaccess::FieldDescWriter w;
  w.group("")
      .string("T:TITLE", 20, named)
      .longField("T:COUNT")
      .ulongField("T:OVER", over)
      .shortField("T:GRID", dims)
      .decimal("T:VALUE", 4, 2)
      .pdecimal("T:ODD", 3, 1)
      .cstring("T:NOTE", 10)
      .pstring("T:CODE", 6)
      .fixed(fileaccess::kTypeDate, "T:DATE")
      .realField("T:REAL")
      .group("T:WHEN", dims)
      .byteField("T:DAY")
      .ushortField("T:MONTH")
      .endGroup()
      .endGroup();
  const auto stream = w.finish();
  if (!stream) std::exit(1);
  // The record is as long as its furthest field: 20+4+12+4+3+10+6+4+8+18.
  writeSeed("fileaccess_field_desc", "every_type", withRecordLength(89, *stream));

  fileaccess::FieldDescWriter one;
  one.group("").longField("").endGroup();
  writeSeed("fileaccess_field_desc", "one_long", withRecordLength(4, *one.finish()));
}

void compactSeeds() {
  Bytes all;
  for (std::int32_t v : {0, 1, -1, 31, 32, -32, 8191, 8192, 2097151, 2097152, 536870911, -536870911}) {
    std::array<std::uint8_t, 4> out{};
    const std::size_t n = fileaccess::encodeCompact(v, out);
    all.insert(all.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
  }
  writeSeed("fileaccess_compact", "boundaries", all);
  Bytes words(16);
  platform::storeLe32(words, 0, 536870912u);
  platform::storeLe32(words, 4, 0x80000000u);
  platform::storeLe32(words, 8, 0xE0000001u);
  platform::storeLe32(words, 12, 12345u);
  writeSeed("fileaccess_compact", "words", words);
}

void definitionSeed(const std::string& name, fileaccess::FileBlock& block) {
  std::unique_ptr<qbx::records::QbxTableDef> def;
  if (qbx::records::buildTableDef(block, def) != 0 || !def) {
    std::fprintf(stderr, "cannot build the definition of %s\n", name.c_str());
    std::exit(1);
  }
  writeSeed("records_definition", name, qbx::records::encodeDefinition(*def));
}

void definitionSeeds() {
  definitionSeed("catalogue_source", convert23::REELCATALOG1);
  definitionSeed("catalogue_target", convert23::REELCATALOG2);

  // A small table with a blob (stream version 2) and a dynamic index.
  fileaccess::FieldDescWriter w;
  w.group("").string("T:NAME", 12).decimal("T:VALUE", 4, 2).endGroup();
  const Bytes stream = *w.finish();
  std::vector<std::uint8_t> record(16);
  fileaccess::KeyDesc key;
  key.label = "T:NAMEKEY";
  key.labelLength = fileaccess::kTextZeroTerminated;
  key.keyFlags = fileaccess::kKeyIndex;
  fileaccess::MemoDesc blob;
  blob.label = "T:PICTURE";
  blob.labelLength = fileaccess::kTextZeroTerminated;
  blob.memoSize = 100;
  blob.memoFlags = fileaccess::kMemoBlob;
  fileaccess::KeyDesc* keys[] = {&key};
  fileaccess::MemoDesc* memos[] = {&blob};
  fileaccess::FileBlock block;
  block.name = "SMALL";
  block.nameLength = fileaccess::kTextZeroTerminated;
  block.recordLength = 16;
  block.recordDesc = stream.data();
  block.recordBuffer = record.data();
  block.keyCount = 1;
  block.keyTable = keys;
  block.memoCount = 1;
  block.memoTable = memos;
  key.declaringFile = &block;
  definitionSeed("blob_and_index", block);
}

// ---- texts ------------------------------------------------------------------

void textSeeds() {
  writeSeed("platform_profile", "trace",
            "; driver settings\r\n[RDQUILLBOX]\r\nProfile=1\r\nTraceFile = \"/tmp/q.log\"\r\n"
            "Details=1 ; not a comment\r\n[rdquillbox]\r\nprofile=0\r\n");
  writeSeed("platform_profile", "odd_lines",
            "before=section\n[A\nk=v\n[B]  \n=novalue\nnoequals\n  key  =  'quoted '  \n"
            "[B]\nKEY=second\n[]\nx=y\n");
  writeSeed("platform_expression", "compare",
            "MOV:YEAR >= 1940 AND MOV:YEAR < 1950 AND MOV:TITLE ~= 'the big sleep'");
  writeSeed("platform_expression", "nested",
            "NOT (MOV:GENRE = 'Crime' OR (MOV:VALUE <= -.25 AND NOT _COUNT2)) OR 'O''Hara' <> 'x'");
  Bytes withRecord;
  const std::string text = "mov:title > 'M' or mov:value = 12.5";
  withRecord.assign(text.begin(), text.end());
  withRecord.push_back(0);
  const std::string title = "Notorious       Film Noir       ";
  withRecord.insert(withRecord.end(), title.begin(), title.end());
  Bytes numbers(16);
  const double year = 1946;
  const double value = 12.5;
  std::memcpy(numbers.data(), &year, 8);
  std::memcpy(numbers.data() + 8, &value, 8);
  withRecord.insert(withRecord.end(), numbers.begin(), numbers.end());
  writeSeed("platform_expression", "with_record", withRecord);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  gCorpus = argv[1];
  std::string pattern = (fs::temp_directory_path() / "qbx-seeds-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path scratch = pattern;

  pageSeeds();
  compressionSeeds();
  storeFileSeeds(scratch);
  fieldDescSeeds();
  compactSeeds();
  definitionSeeds();
  textSeeds();

  fs::remove_all(scratch);
  return 0;
}
