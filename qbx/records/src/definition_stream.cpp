#include "qbx/records/definition_stream.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "fileaccess/field_format.h"
#include "qbx/records/layout_check.h"
#include "qbx/records/result_codes.h"

namespace qbx::records {
namespace {

enum class Mode { kWrite, kCompare, kRead };

constexpr std::uint32_t kLastChunk = 0xFFFF;

// Appends stream bytes and hands every full 512-byte piece to the sink as
// soon as it fills, so a stream whose length is a multiple of 512 ends with
// an empty last chunk.
class ChunkWriter {
 public:
  explicit ChunkWriter(DefinitionChunkSink* sink) : sink_(sink) {}

  void put(std::uint8_t b) {
    if (error_ != kOk) return;
    buffer_[used_++] = b;
    if (used_ == buffer_.size()) emit();
  }
  int finish() {
    if (error_ == kOk) emit();
    return error_;
  }
  bool failed() const { return error_ != kOk; }

 private:
  void emit() {
    if (chunk_ > kLastChunk) {
      error_ = kErrInvalidRecordDeclaration;
      return;
    }
    error_ = sink_->storeChunk(static_cast<std::uint16_t>(chunk_), {buffer_.data(), used_});
    ++chunk_;
    used_ = 0;
  }

  DefinitionChunkSink* sink_;
  std::array<std::uint8_t, kDefinitionChunkSize> buffer_{};
  std::size_t used_ = 0;
  std::uint32_t chunk_ = 0;
  int error_ = kOk;
};

// Takes stream bytes chunk by chunk: chunk k+1 is fetched once all 512 bytes
// of chunk k are consumed. A missing chunk, the missing tail of a short one,
// and anything after the last chunk number read as zero.
class ChunkReader {
 public:
  explicit ChunkReader(DefinitionChunkSource* source) : source_(source) { load(); }

  std::uint8_t get() {
    if (pos_ == buffer_.size()) {
      ++chunk_;
      load();
    }
    return buffer_[pos_++];
  }

 private:
  void load() {
    buffer_.fill(0);
    pos_ = 0;
    if (chunk_ <= kLastChunk) source_->loadChunk(static_cast<std::uint16_t>(chunk_), buffer_);
  }

  DefinitionChunkSource* source_;
  std::array<std::uint8_t, kDefinitionChunkSize> buffer_{};
  std::size_t pos_ = 0;
  std::uint32_t chunk_ = 0;
};

// The items of the stream in one mode. In write mode values go out; in
// compare mode each value read is compared with the table's and a difference
// in a layout item stops the walk; in read mode values read are stored.
template <Mode M>
class Items {
 public:
  static constexpr bool kReading = M != Mode::kWrite;

  Items(DefinitionChunkSink* sink, DefinitionChunkSource* source)
      : writer_(sink), reader_(kReading ? source : nullptr) {}

  // A one-byte item; bits of layoutMask that differ end a comparison.
  template <class T>
  void u8(T& v, std::uint8_t layoutMask) {
    if constexpr (M == Mode::kWrite) {
      writer_.put(static_cast<std::uint8_t>(v));
    } else {
      const std::uint8_t r = reader_.get();
      if constexpr (M == Mode::kCompare) {
        if (((r ^ static_cast<std::uint8_t>(v)) & layoutMask) != 0) differs_ = true;
      } else {
        v = static_cast<std::remove_cvref_t<T>>(r);
      }
    }
  }

  // A two-byte item holding the low half of a 32-bit value.
  template <class T>
  void u16(T& v, bool layout) {
    if constexpr (M == Mode::kWrite) {
      const auto x = static_cast<std::uint32_t>(v);
      writer_.put(static_cast<std::uint8_t>(x));
      writer_.put(static_cast<std::uint8_t>(x >> 8));
    } else {
      const std::uint8_t lo = reader_.get();
      const std::uint8_t hi = reader_.get();
      const std::uint32_t r = lo | (std::uint32_t{hi} << 8);
      if constexpr (M == Mode::kCompare) {
        if (layout && r != static_cast<std::uint32_t>(v)) differs_ = true;
      } else {
        v = static_cast<std::remove_cvref_t<T>>(r);
      }
    }
  }

  // A text; never part of the layout.
  template <class T>
  void text(T& t) {
    if constexpr (M == Mode::kWrite) {
      if (!t) {
        writer_.put(0);
        writer_.put(kTextAbsentMarker);
      } else if (t->empty()) {
        writer_.put(0);
        writer_.put(0);
      } else {
        for (char c : *t) writer_.put(static_cast<std::uint8_t>(c));
        writer_.put(0);
      }
    } else {
      std::uint8_t b = reader_.get();
      if (b == 0) {
        const bool absent = reader_.get() != 0;
        if constexpr (M == Mode::kRead) {
          if (absent) {
            t.reset();
          } else {
            t.emplace();
          }
        }
        return;
      }
      if constexpr (M == Mode::kRead) t.emplace();
      while (b != 0) {
        if constexpr (M == Mode::kRead) t->push_back(static_cast<char>(b));
        b = reader_.get();
      }
    }
  }

  // The walk stops at a layout difference, a failed sink, or a read-mode
  // check.
  bool stopped() const { return differs_ || invalid_ || writer_.failed(); }
  bool differs() const { return differs_; }
  void invalidate() { invalid_ = true; }
  bool invalid() const { return invalid_; }
  int finish() { return writer_.finish(); }

 private:
  struct NoReader {
    explicit NoReader(DefinitionChunkSource*) {}
    std::uint8_t get() { return 0; }
  };
  ChunkWriter writer_;
  std::conditional_t<kReading, ChunkReader, NoReader> reader_;
  bool differs_ = false;
  bool invalid_ = false;
};

bool isStoredStringType(std::uint8_t type) {
  return type == fileaccess::kTypeString || type == fileaccess::kTypeCstring ||
         type == fileaccess::kTypePstring;
}

template <Mode M, class Def>
void walkField(Items<M>& io, Def& def, std::size_t i) {
  auto& f = def.fields[i];
  io.u8(f.type, 0xFF);
  io.u16(f.offset, true);
  io.text(f.name);
  io.u16(f.elementCount, true);
  io.u16(f.totalSize, true);
  io.u16(f.overlay, true);
  io.u16(f.fieldNumber, true);
  if (fileaccess::isDecimalType(f.type)) {
    io.u8(f.places, 0);
    io.u8(f.elementSize, 0);
  } else if (isStoredStringType(f.type)) {
    io.u16(f.elementLength, false);
    io.text(f.picture);
  }
  if constexpr (M == Mode::kRead) {
    if (checkFieldLayout(def, i) != kOk) io.invalidate();
  }
}

template <Mode M, class Def>
void walkMemo(Items<M>& io, Def& def, std::size_t i) {
  auto& m = def.memos[i];
  io.text(m.externalName);
  io.text(m.label);
  // A blob's size may change; a memo's may not.
  io.u16(m.size, !m.isBlob());
  std::uint32_t flags = m.flags;
  io.u16(flags, false);
  if constexpr (M == Mode::kRead) {
    if (flags > 0xFF) io.invalidate();
    m.flags = static_cast<std::uint8_t>(flags);
  }
}

template <Mode M, class Def>
void walkKey(Items<M>& io, Def& def, std::size_t i) {
  auto& k = def.keys[i];
  io.text(k.externalName);
  io.text(k.label);
  io.u8(k.flags, static_cast<std::uint8_t>(~kKeyPrimary));
  std::uint32_t count = static_cast<std::uint32_t>(k.components.size());
  io.u16(count, true);
  if (io.stopped()) return;
  if constexpr (M == Mode::kRead) {
    k.keyNumber = static_cast<std::uint8_t>(i);
    k.components.resize(count);
  }
  for (std::size_t c = 0; c < count && !io.stopped(); ++c) {
    auto& comp = k.components[c];
    std::uint32_t fieldNumber = 0;
    std::uint32_t descending = comp.descending ? 1 : 0;
    if constexpr (M != Mode::kRead) fieldNumber = def.fields[comp.field].fieldNumber;
    io.u16(fieldNumber, true);
    io.u16(descending, true);
    if constexpr (M == Mode::kRead) {
      if (fieldNumber >= def.fields.size() || descending > 1) {
        io.invalidate();
        return;
      }
      comp.field = fieldNumber;
      comp.descending = descending != 0;
    }
  }
  if constexpr (M == Mode::kRead) {
    k.valueLength = static_cast<std::uint32_t>(componentsLength(def, k));
  }
}

// The one walk over the items of the stream.
template <Mode M, class Def>
void walk(Items<M>& io, Def& def) {
  std::uint32_t version = def.hasBlobs() ? kDefinitionVersionWithBlobs : kDefinitionVersion;
  std::uint32_t recordLength = def.recordLength;
  std::uint32_t fieldCount = static_cast<std::uint32_t>(def.fields.size());
  std::uint32_t memoCount = static_cast<std::uint32_t>(def.memos.size());
  std::uint32_t keyCount = static_cast<std::uint32_t>(def.keys.size());
  io.u16(version, true);
  io.u16(recordLength, true);
  io.u16(fieldCount, true);
  io.u16(memoCount, true);
  io.u16(keyCount, true);
  if (io.stopped()) return;
  if constexpr (M == Mode::kRead) {
    if ((version != kDefinitionVersion && version != kDefinitionVersionWithBlobs) ||
        recordLength > kMaxRecordLength || keyCount > kMaxKeyCount || memoCount > 0xFF) {
      io.invalidate();
      return;
    }
    def.recordLength = recordLength;
    // Fields are added as they are read, so a count that the stream does
    // not back with field items costs nothing.
    def.fields.reserve(std::min<std::uint32_t>(fieldCount, 256));
    def.memos.resize(memoCount);
    def.keys.resize(keyCount);
  }
  for (std::size_t i = 0; i < fieldCount && !io.stopped(); ++i) {
    if constexpr (M == Mode::kRead) def.fields.emplace_back();
    walkField(io, def, i);
  }
  for (std::size_t i = 0; i < memoCount && !io.stopped(); ++i) walkMemo(io, def, i);
  for (std::size_t i = 0; i < keyCount && !io.stopped(); ++i) walkKey(io, def, i);
}

class VectorSink final : public DefinitionChunkSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
  int storeChunk(std::uint16_t, std::span<const std::uint8_t> piece) override {
    out_.insert(out_.end(), piece.begin(), piece.end());
    return kOk;
  }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace

int writeDefinition(const QbxTableDef& table, DefinitionChunkSink& sink) {
  Items<Mode::kWrite> io(&sink, nullptr);
  walk(io, table);
  return io.finish();
}

std::vector<std::uint8_t> encodeDefinition(const QbxTableDef& table) {
  std::vector<std::uint8_t> out;
  VectorSink sink(out);
  (void)writeDefinition(table, sink);
  return out;
}

DefinitionMatch compareDefinition(const QbxTableDef& table, DefinitionChunkSource& source) {
  Items<Mode::kCompare> io(nullptr, &source);
  walk(io, table);
  return io.differs() ? DefinitionMatch::kLayoutDiffers : DefinitionMatch::kMatches;
}

int readDefinition(QbxTableDef& table, DefinitionChunkSource& source) {
  QbxTableDef stored;
  Items<Mode::kRead> io(nullptr, &source);
  walk(io, stored);
  if (io.invalid() || checkTableLayout(stored) != kOk) return kErrInvalidRecordDeclaration;
  for (QbxMemoDef& m : stored.memos) {
    m.buffer = std::make_unique<char[]>(m.size);
    std::fill_n(m.buffer.get(), m.size, ' ');
  }
  table.unlinkDeclaration();
  table.recordLength = stored.recordLength;
  table.fields = std::move(stored.fields);
  table.memos = std::move(stored.memos);
  table.keys = std::move(stored.keys);
  table.linkDeclaration();
  return kOk;
}

}  // namespace qbx::records
