// Reading a catalogue file back through the driver, in the test's own
// process: its records in record-number order and its key counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert23/catalogue_file.h"

namespace convert23::testing {

using Bytes = std::vector<std::uint8_t>;

struct ReadBack {
  int openError = 0;  // the error of OPEN, 0 when it opened
  int endError = 0;   // the code that ended the NEXT loop (33 at the end)
  std::vector<Bytes> records;
  // RECORDSkey of every key with components (the dynamic indexes left out).
  std::vector<std::int32_t> keyEntries;
  int closeError = 0;
};

// Opens the file read-only, others sharing freely, with the layout's
// declaration.
ReadBack readCatalogue(const std::string& path, Layout layout);

// The records the sample of this seed holds, in the layout's form.
std::vector<Bytes> sampleRecords(Layout layout, std::uint64_t seed, int count);

}  // namespace convert23::testing
