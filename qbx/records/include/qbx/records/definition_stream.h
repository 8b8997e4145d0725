// The table definition kept in the file: one byte stream (items in format.h)
// cut into 512-byte definition chunks. One walk over the items runs in three
// modes: write (produce the chunks), compare (does the stored definition lay
// out records and keys as the declared one does?) and read (take the lists
// from the file).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "qbx/records/format.h"
#include "qbx/records/table_def.h"

namespace qbx::records {

// Receives the chunks of a written definition, numbered from 0. Every chunk
// but the last is 512 bytes; the last holds the rest and may be empty.
class DefinitionChunkSink {
 public:
  virtual ~DefinitionChunkSink() = default;
  [[nodiscard]] virtual int storeChunk(std::uint16_t chunk,
                                       std::span<const std::uint8_t> piece) = 0;
};

// Hands out the stored chunks: copies the data of the chunk into out (at most
// 512 bytes) and returns how many bytes it copied; 0 when the chunk does not
// exist. Bytes that a chunk does not hold read as zero.
class DefinitionChunkSource {
 public:
  virtual ~DefinitionChunkSource() = default;
  virtual std::size_t loadChunk(std::uint16_t chunk,
                                std::span<std::uint8_t, kDefinitionChunkSize> out) = 0;
};

// Writes the definition stream of the table as chunks: 0, the sink's error,
// or 47 when the stream would need more chunks than a chunk number counts.
[[nodiscard]] int writeDefinition(const QbxTableDef& table, DefinitionChunkSink& sink);

// The whole stream as one byte string (for inspection and tests).
std::vector<std::uint8_t> encodeDefinition(const QbxTableDef& table);

enum class DefinitionMatch { kMatches, kLayoutDiffers };

// Compares the stored definition with the table's. Names, places, element
// sizes and lengths, pictures, memo and key texts and memo flags may differ;
// anything that changes the layout of records or keys may not (a key's
// PRIMARY bit excepted, and the size of a blob).
DefinitionMatch compareDefinition(const QbxTableDef& table, DefinitionChunkSource& source);

// Replaces the record length and the field, memo and key lists of the table
// with the stored definition, relinking the declaration's descriptors. The
// stored definition is checked as a declaration is (record length, counts,
// types, field bounds, sizes, component fields, key length): 47 when it
// fails, and the table is left as it was.
[[nodiscard]] int readDefinition(QbxTableDef& table, DefinitionChunkSource& source);

}  // namespace qbx::records
