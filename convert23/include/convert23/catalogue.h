// The two declarations of the movie catalogue: REELCATALOG1, the old layout
// read as the source (field prefix IN), and REELCATALOG2, the new layout
// written as the target (prefix MOV). They differ in the value field only: a
// LONG in the old layout, a DECIMAL(7,2) in the new one. Both records are
// 14422 bytes with 33 field entries and 22 keys; the target alone carries the
// CREATE attribute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fileaccess/declarations.h"

namespace convert23 {

inline constexpr std::uint32_t kRecordLength = 14422;
inline constexpr std::size_t kNameLength = 260;
inline constexpr std::size_t kFieldCount = 33;
inline constexpr std::size_t kKeyCount = 22;
inline constexpr std::uint32_t kValueOffset = 460;  // IN:VALUE / MOV:VALUE
inline constexpr std::uint8_t kValueSize = 4;
inline constexpr std::uint8_t kValuePlaces = 2;

// The name variables of the two files, 260 characters, space padded.
extern char SOURCENAME[kNameLength];
extern char TARGETNAME[kNameLength];
// Records converted so far, the progress line's count; wraps modulo 2^32.
extern std::uint32_t COUNT;

extern fileaccess::FileBlock REELCATALOG1;
extern fileaccess::FileBlock REELCATALOG2;

// Names both files' driver entry.
void setDriverEntry(fileaccess::DriverEntryFn entry);

// The start state of the program's data: both name variables all spaces,
// COUNT 0 and both record buffers cleared (strings to spaces, numbers to
// zero).
void clearProgramData();

// The record buffers (IN:RECORD and MOV:RECORD) and the FieldDesc streams.
std::span<std::uint8_t> sourceRecord();
std::span<std::uint8_t> targetRecord();
std::span<const std::uint8_t> sourceStream();
std::span<const std::uint8_t> targetStream();

// Copies the source record into the target: clears MOV:RECORD, then assigns
// field by field in declaration order, storing the LONG value as a DECIMAL
// with two places. The target then equals the source byte for byte except
// the four value bytes at offset 460.
void AssignRecord();

}  // namespace convert23
