// The full integrity check of a QBX file behind `qbx check`: the header and
// its regions, every page reachable from the root (its image, compression,
// level and entries), the order of the entries and the separators, every
// table's name record, definition, sort table and status records, the
// record and entry counts against the real ones, and for every complete key
// that its entries are exactly those its records form (for a key that is out
// of date, the same for the records before its mark).
//
// The file is opened for reading, others sharing it freely, and read within
// one access, so that the check sees one committed state while other
// programs keep reading it. Nothing is ever written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qbx::inspector {

// Receives the findings as the check makes them: problems (the file is
// damaged) and notes (facts worth knowing that are no damage).
class CheckSink {
 public:
  virtual ~CheckSink() = default;
  virtual void problem(std::string_view text) = 0;
  virtual void note(std::string_view text) = 0;
};

struct CheckSummary {
  std::uint64_t problems = 0;
  std::uint64_t pages = 0;  // pages read while walking the tree
  std::uint64_t entries = 0;
  std::uint32_t tables = 0;
  std::uint64_t records = 0;
  std::uint64_t keyEntries = 0;
};

// Runs the check. 0 when the check ran (whatever it found: see
// summary->problems), else the error that kept the file from being opened
// at all (2 no such file, 3, 5, 45).
[[nodiscard]] int checkFile(const std::string& path, std::string_view password, CheckSink& sink,
                            CheckSummary* summary);

}  // namespace qbx::inspector
