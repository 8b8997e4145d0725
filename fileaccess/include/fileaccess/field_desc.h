// FieldDesc streams: compact numbers, a writer through which a program
// declares a record layout readably, and a reader that walks the entries of a
// stream and yields each field's form and place in the record. The byte
// layout is in field_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fileaccess/field_format.h"

namespace fileaccess {

// Error of a stream that cannot be decoded or is inconsistent, and of asking
// for an entry beyond the last one: "Invalid Field Type Descriptor".
inline constexpr int kInvalidFieldDescriptor = 75;

// ---- compact numbers ------------------------------------------------------

struct CompactNumber {
  std::int32_t value = 0;
  std::uint8_t length = 0;  // bytes taken, 1 to 4
};

// Encodes value into out; returns the number of bytes written (1 to 4), or 0
// when its magnitude exceeds kCompactMaxMagnitude.
[[nodiscard]] std::size_t encodeCompact(std::int32_t value, std::span<std::uint8_t, 4> out);

// Decodes the compact number at the start of bytes; nullopt when bytes ends
// inside it.
[[nodiscard]] std::optional<CompactNumber> decodeCompact(std::span<const std::uint8_t> bytes);

// ---- writer ----------------------------------------------------------------

// The optional parts of a field entry.
struct FieldOptions {
  std::string_view nameAttribute;                // NAME attribute (flag 0x01) when not empty
  std::string_view picture;                      // string types only (flag 0x04)
  std::optional<std::int32_t> offsetAdjustment;  // flag 0x08
  std::vector<std::int32_t> dimensions;          // flag 0x10 when not empty
};

// Builds a stream entry by entry. The first group() opens the record's own
// entry (give it an empty label); every group() is closed by endGroup(), which
// fills in the group's size (the furthest end of its members), its entry
// count and its length. finish() gives the stream once every group is closed.
//
//   FieldDescWriter w;
//   w.group("").string("IN:TITLE", 100).longField("IN:VALUE").endGroup();
//   auto stream = w.finish();
class FieldDescWriter {
 public:
  FieldDescWriter& group(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& endGroup();

  FieldDescWriter& string(std::string_view label, std::int32_t length,
                          const FieldOptions& options = {});
  FieldDescWriter& cstring(std::string_view label, std::int32_t length,
                           const FieldOptions& options = {});
  FieldDescWriter& pstring(std::string_view label, std::int32_t length,
                           const FieldOptions& options = {});
  FieldDescWriter& decimal(std::string_view label, std::uint8_t size, std::uint8_t places,
                           const FieldOptions& options = {});
  FieldDescWriter& pdecimal(std::string_view label, std::uint8_t size, std::uint8_t places,
                            const FieldOptions& options = {});
  FieldDescWriter& byteField(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& shortField(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& ushortField(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& longField(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& ulongField(std::string_view label, const FieldOptions& options = {});
  FieldDescWriter& realField(std::string_view label, const FieldOptions& options = {});
  // Any type without an own size part (dates, times, reals, carried codes).
  FieldDescWriter& fixed(std::uint8_t type, std::string_view label,
                         const FieldOptions& options = {});

  // The stream, or nullopt when a group is still open, a group was closed
  // that was never opened, more than one record entry was written, or a
  // number did not fit its form.
  [[nodiscard]] std::optional<std::vector<std::uint8_t>> finish() const;

 private:
  struct OpenGroup {
    std::size_t headerAt;      // position of the group's type byte
    std::uint32_t firstEntry;  // entry number of the group itself
    std::int64_t offset;       // the group's offset in the record
    std::int64_t furthestEnd;  // end of the furthest member so far
    std::int64_t elementCount;
  };

  FieldDescWriter& sizedString(std::uint8_t type, std::string_view label, std::int32_t length,
                               const FieldOptions& options);
  FieldDescWriter& sizedDecimal(std::uint8_t type, std::string_view label, std::uint8_t size,
                                std::uint8_t places, const FieldOptions& options);
  void beginEntry(std::uint8_t type, std::uint8_t flags);
  void putCompact(std::int32_t value);
  void putText(std::string_view text);
  std::uint8_t flagsFor(std::string_view label, const FieldOptions& options, bool picture) const;
  // Writes label, NAME, offset adjustment and dimensions, and places the
  // entry in the record.
  void endEntry(std::string_view label, const FieldOptions& options, std::int64_t elementSize,
                bool isGroup);

  std::vector<std::uint8_t> bytes_;
  std::vector<OpenGroup> open_;
  std::int64_t running_ = 0;
  std::uint32_t entries_ = 0;
  bool rootClosed_ = false;
  bool failed_ = false;
};

// ---- reader ----------------------------------------------------------------

// One entry of a stream as the reader yields it.
struct FieldEntry {
  std::uint32_t number = 0;     // 0 is the record's own entry
  std::uint32_t streamPos = 0;  // position of the entry's type byte in the stream
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint32_t size = 0;          // element size in bytes
  std::uint32_t elementCount = 1;  // product of the dimensions
  std::uint32_t offset = 0;        // in the record buffer
  std::uint32_t level = 0;         // the record is level 0, its members level 1
  std::uint8_t places = 0;         // DECIMAL and PDECIMAL
  std::uint32_t memberCount = 0;   // GROUP: entries inside it at all depths
  std::uint32_t groupLength = 0;   // GROUP: bytes of the whole group entry
  std::int32_t offsetAdjustment = 0;
  std::string_view label;  // views into the stream
  std::string_view nameAttribute;
  std::string_view picture;
  std::vector<std::uint32_t> dimensions;

  std::uint64_t totalSize() const { return std::uint64_t{size} * elementCount; }
};

// Walks a stream's entries in order. Every entry is checked before it is
// yielded: offsets, sizes and dimensions are computed in 64 bits; a negative
// offset, dimension or length, a field ending beyond the record length, an
// entry or label running past its group's stated length (the record entry's
// length bounds the whole stream and must lie within it), or a group whose
// entry count or length does not match its members make the stream invalid.
// The reader never reads outside the span it was given.
class FieldDescReader {
 public:
  FieldDescReader(std::span<const std::uint8_t> stream, std::uint32_t recordLength);

  // Yields the next entry into out: 0, or 75 when the stream is invalid or
  // every entry has been yielded. An error is final: every later call gives 75.
  [[nodiscard]] int next(FieldEntry& out);

  // True once the last entry has been yielded.
  bool done() const { return finished_; }

  // Number of field entries after the record's own (known once entry 0 is read).
  std::uint32_t fieldCount() const { return fieldCount_; }

  // The number of bytes the stream takes, as the record entry states it (known
  // once entry 0 is read).
  std::uint32_t streamLength() const { return streamLength_; }

 private:
  struct OpenGroup {
    std::uint64_t end;        // stream position just past the group entry
    std::uint32_t lastEntry;  // number of its last member
    std::uint64_t offset;     // the group's offset in the record
    std::uint64_t totalSize;
  };

  int fail();
  int parse(FieldEntry& out);
  bool readByte(std::uint8_t& out);
  bool readU32(std::uint32_t& out);
  bool readCompact(std::int32_t& out);
  bool readText(std::string_view& out);

  std::span<const std::uint8_t> stream_;
  std::uint64_t recordLength_;
  std::uint64_t pos_ = 0;
  std::uint64_t limit_;  // reads stay below this: the innermost group's end
  std::uint64_t running_ = 0;
  std::uint32_t nextNumber_ = 0;
  std::uint32_t fieldCount_ = 0;
  std::uint32_t streamLength_ = 0;
  std::vector<OpenGroup> open_;
  bool started_ = false;
  bool finished_ = false;
  bool failed_ = false;
};

// Walks a whole stream into entries (entry 0 first): 0 or 75.
[[nodiscard]] int readFieldEntries(std::span<const std::uint8_t> stream, std::uint32_t recordLength,
                                   std::vector<FieldEntry>& out);

// The stream a FileBlock's recordDesc points at, bounded by the length its
// record entry states; empty when recordDesc is null. The declaration is the
// program's own data, so the stated length is taken as its extent.
std::span<const std::uint8_t> declaredStream(const std::uint8_t* recordDesc);

}  // namespace fileaccess
