// Reading a stored table definition back, from arbitrary bytes.
//
// Input: the definition stream; byte 512n onwards is chunk n, as the chunks
// are kept in the file. The stream is read into the definition of a bare
// declaration (no fields, keys or memos) and compared with a declared table
// of strings, numbers, a DECIMAL, an array and a group, both memo kinds and
// unique, DUP and dynamic keys. Reading gives 0 or 47; a definition that
// was read matches the stored one and writes a stream that reads back to the
// same stream, and a refused one leaves the table as it was.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"
#include "qbx/records/definition_stream.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/table_def_builder.h"

namespace {

using namespace qbx::records;

// Chunks cut from one byte string.
class StreamChunks final : public DefinitionChunkSource {
 public:
  explicit StreamChunks(std::span<const std::uint8_t> stream) : stream_(stream) {}
  std::size_t loadChunk(std::uint16_t chunk,
                        std::span<std::uint8_t, kDefinitionChunkSize> out) override {
    const std::size_t at = std::size_t{chunk} * kDefinitionChunkSize;
    if (at >= stream_.size()) return 0;
    const std::size_t n = std::min(kDefinitionChunkSize, stream_.size() - at);
    std::copy_n(stream_.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
    return n;
  }

 private:
  std::span<const std::uint8_t> stream_;
};

// A declaration as a program keeps it: the FieldDesc stream, keys, memos and
// the FileBlock tying them together.
struct Declared {
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> record;
  std::vector<std::int32_t> titleComponents{1, -2};
  std::vector<std::int32_t> valueComponents{9};
  fileaccess::KeyDesc keys[3];
  fileaccess::MemoDesc memos[2];
  fileaccess::KeyDesc* keyTable[3] = {&keys[0], &keys[1], &keys[2]};
  fileaccess::MemoDesc* memoTable[2] = {&memos[0], &memos[1]};
  fileaccess::FileBlock block;

  // No fields, keys or memos: the definition read from a file fills it.
  static std::unique_ptr<Declared> bare() {
    auto d = std::make_unique<Declared>();
    d->block.name = "FUZZ";
    d->block.nameLength = fileaccess::kTextZeroTerminated;
    return d;
  }

  static std::unique_ptr<Declared> catalogue() {
    auto d = bare();
    fileaccess::FieldOptions named;
    named.nameAttribute = "Title";
    fileaccess::FieldOptions pictured;
    pictured.picture = "@n$9.2";
    fileaccess::FieldOptions twice;
    twice.dimensions = {2};
    fileaccess::FieldDescWriter w;
    w.group("")
        .string("T:TITLE", 20, named)
        .longField("T:COUNT")
        .shortField("T:SHORT", twice)
        .byteField("T:BYTE")
        .fixed(fileaccess::kTypeDate, "T:DATE")
        .realField("T:REAL")
        .cstring("T:NOTE", 10, pictured)
        .pstring("T:CODE", 6)
        .decimal("T:VALUE", 4, 2)
        .group("T:WHEN")
        .longField("T:DAY")
        .ulongField("T:ID")
        .endGroup()
        .endGroup();
    d->stream = w.finish().value_or(std::vector<std::uint8_t>{});
    d->record.assign(69, 0);  // the furthest field ends at 69
    d->block.recordLength = static_cast<std::uint32_t>(d->record.size());
    d->block.recordDesc = d->stream.empty() ? nullptr : d->stream.data();
    d->block.recordBuffer = d->record.data();
    auto& title = d->keys[0];
    title.label = "T:TITLEKEY";
    title.labelLength = fileaccess::kTextZeroTerminated;
    title.keyFlags = fileaccess::kKeyDup | fileaccess::kKeyNocase;
    title.componentCount = 2;
    title.components = d->titleComponents.data();
    auto& value = d->keys[1];
    value.label = "T:VALUEKEY";
    value.labelLength = fileaccess::kTextZeroTerminated;
    value.keyFlags = fileaccess::kKeyOpt;
    value.componentCount = 1;
    value.components = d->valueComponents.data();
    auto& dynamic = d->keys[2];
    dynamic.label = "T:DYNAMIC";
    dynamic.labelLength = fileaccess::kTextZeroTerminated;
    dynamic.keyFlags = fileaccess::kKeyIndex;
    for (auto& k : d->keys) k.declaringFile = &d->block;
    d->memos[0].label = "T:NOTES";
    d->memos[0].labelLength = fileaccess::kTextZeroTerminated;
    d->memos[0].memoSize = 500;
    d->memos[1].label = "T:PICTURE";
    d->memos[1].labelLength = fileaccess::kTextZeroTerminated;
    d->memos[1].memoSize = 2000;
    d->memos[1].memoFlags = fileaccess::kMemoBlob | fileaccess::kMemoBinary;
    d->block.keyCount = 3;
    d->block.memoCount = 2;
    d->block.keyTable = d->keyTable;
    d->block.memoTable = d->memoTable;
    return d;
  }
};

std::unique_ptr<QbxTableDef> build(Declared& d) {
  std::unique_ptr<QbxTableDef> def;
  if (buildTableDef(d.block, def) != kOk || !def) std::abort();
  return def;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Beyond this many chunks the stream only repeats what smaller inputs test.
  if (size > 64 * kDefinitionChunkSize) return 0;
  StreamChunks chunks(std::span<const std::uint8_t>(data, size));

  static const std::unique_ptr<Declared> declared = Declared::catalogue();
  static const std::unique_ptr<QbxTableDef> declaredDef = build(*declared);
  (void)compareDefinition(*declaredDef, chunks);

  auto bare = Declared::bare();
  auto read = build(*bare);
  const std::vector<std::uint8_t> empty = encodeDefinition(*read);
  const int rc = readDefinition(*read, chunks);
  if (rc != kOk) {
    if (rc != kErrInvalidRecordDeclaration) std::abort();
    if (encodeDefinition(*read) != empty) std::abort();
    return 0;
  }
  // What was read writes a stream that reads back to the same definition
  // and matches it.
  const std::vector<std::uint8_t> written = encodeDefinition(*read);
  StreamChunks again(written);
  auto bare2 = Declared::bare();
  auto reread = build(*bare2);
  if (readDefinition(*reread, again) != kOk) std::abort();
  if (encodeDefinition(*reread) != written) std::abort();
  if (compareDefinition(*read, again) != DefinitionMatch::kMatches) std::abort();
  // The definition also matches the stream it was read from.
  if (compareDefinition(*read, chunks) != DefinitionMatch::kMatches) std::abort();
  return 0;
}
