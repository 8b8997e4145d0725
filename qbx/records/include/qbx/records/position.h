// The reading position of an open table: where sequential reading stands and
// in which order, as one of nine states, and the position key that marks the
// place (a data record key in file order, a key entry in key order).
#pragma once

#include <cstdint>

namespace qbx::records {

enum class PositionState : std::uint8_t {
  kFileAt = 0,          // a step: file order, at the record in the position key
  kKeyAt = 1,           // a step: key order, at the key entry in the position key
  kFileEnds = 2,        // SET(file): before the first / after the last record
  kFileRecord = 3,      // SET(file, n): at record number n
  kFileByKey = 4,       // SET(file, key): from the record the key value finds
  kKeyEnds = 5,         // SET(key): before the first / after the last entry
  kKeyValueRecord = 6,  // SET(key, key, n): at the key value with record number n
  kKeyValue = 7,        // SET(key, key): at the key value
  kKeyRecord = 8,       // SET(key, n): at the key entry of record n
  kNone = 0xFF,         // no position yet (a table just opened)
};

// What a step does at the place it finds.
enum class StepMode {
  kFetch,  // NEXT, PREVIOUS: read the record and move there
  kTest,   // EOF, BOF: only tell whether there is a place to go
  kMove,   // SKIP: move without reading
};

enum class Direction { kForward, kBackward };

}  // namespace qbx::records
