// Key building: BUILD brings a table's keys up to date from its records.
//
// A key is built from its out-of-date mark on (from the first record under
// FULLBUILD, and always for a dynamic index): the records from there are read
// once in record-number order, their key values sorted outside the tree (the
// external merge sort of sorter.h), and the entries entered in key order, so
// that the tree fills its pages from left to right. Entries already present
// are left alone; a value that a unique key already holds for another record
// is refused, and the key's mark then stays at the lowest refused record. The
// store is committed every 400 changed pages and at the end, each time with
// the key's counter and mark written first, so a build interrupted at any
// point leaves the key marked from its starting record and the next BUILD
// repeats what may be missing.
//
// A build never touches the program's record buffer: each record is read
// into an image of the build's own (converted from OEM when the table has
// that attribute). Otherwise the buffer would hold another record than the
// current one, and a PUT after the BUILD would write it over the current
// record.
//
// A failure of the sort (its run store could not be written or read, or
// memory ran out) ends the build with that error, as a cancel does: nothing
// more is entered and the key keeps its mark at the starting record.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "qbx/records/qbx_table.h"
#include "qbx/records/table_def.h"

namespace qbx::records {

inline constexpr int kErrInvalidIndexString = 76;  // "Invalid Index String"
inline constexpr int kErrBuildCancelled = 93;      // "BUILD Cancelled"

// A build commits what it has entered once the key's store holds this many
// changed pages.
inline constexpr std::uint32_t kBuildCommitPages = 400;
// The event interval setting of deferred builds: 1 to 100.
inline constexpr std::uint16_t kMinBuildInterval = 1;
inline constexpr std::uint16_t kMaxBuildInterval = 100;

// The caller's side of a deferred build: the program is told of the progress
// and may cancel. The answer of the program is the result: non-zero cancels
// the build of the key. An implementation may end the build by raising an
// internal error (when the program closed the table while it was asked).
class BuildProgress {
 public:
  virtual ~BuildProgress() = default;
  // handled: records read so far by this key's build, from 1.
  [[nodiscard]] virtual int progress(std::uint32_t handled) = 0;
};

struct BuildSettings {
  // FULLBUILD on: every key is rebuilt from the first record, and a build of
  // the file saves the collation anew first.
  bool fullBuild = false;
  // A deferred build: progress events go here. None: no events.
  BuildProgress* progress = nullptr;
  // The event interval P (1 to 100; other values are taken as the nearest):
  // the k-th record handled is reported when (-k) AND ((P - 1) x 256 + 127)
  // is 0 in 32-bit two's complement; P = 1 reports every 128th record.
  std::uint16_t interval = kMinBuildInterval;
};

// Whether the k-th record handled (k from 1) is reported for interval P.
bool reportsProgress(std::uint32_t handled, std::uint16_t interval);

// BUILD of the file (truncate false) and PACK (truncate true): in writer
// mode, under FULLBUILD the collation is saved anew, then every key that is
// not an INDEX is built in declaration order until one fails; with truncate,
// and when all succeeded, the file is cut back to its logical end. INDEXes,
// dynamic ones included, are left as they are. 0 or the first key's error.
[[nodiscard]] int buildFile(QbxTable& table, bool truncate, const BuildSettings& settings);

// BUILD of one KEY or INDEX. A filter text (a dynamic index's) is compiled
// with the runtime's expression evaluator against the table's fields; a text
// that does not compile means no filter. With a filter a record is entered
// when the filter holds for it. A key without components (a dynamic index
// not yet given any) is passed over with 0. Results: 0; 40 when a unique key
// refused records (the mark stays at the lowest of them); 93 when the
// program cancelled; the sort's error; a commit's error.
[[nodiscard]] int buildKey(QbxTable& table, const QbxKeyDef& key,
                           std::optional<std::string_view> filter, const BuildSettings& settings);

// Replaces a dynamic index's components from a component text: field names
// separated by commas, each optionally preceded by spaces and by '+'
// (ascending, the default) or '-' (descending), matched to the fields' names
// (NAME attribute, else label) without regard to letter case; blanks after
// a name are not part of it. 76 when a name matches no field (an empty name,
// or a dimensioned field, matches none), 88 when the key's entries would not
// fit a page; the old components then stay.
[[nodiscard]] int setDynamicComponents(const QbxTableDef& table, QbxKeyDef& key,
                                       std::string_view text);

// BUILD of a dynamic index: setDynamicComponents, then buildKey.
[[nodiscard]] int buildDynamicIndex(QbxTable& table, QbxKeyDef& key, std::string_view components,
                                    std::optional<std::string_view> filter,
                                    const BuildSettings& settings);

}  // namespace qbx::records
