// Sample movie catalogues: realistic records for the catalogue layouts
// (titles in mixed case with duplicates and sequels, genres, stars,
// directors, producers, release years in the synopsis, values, media and
// lending details, with the blanks a real catalogue has in its optional
// fields), made from a seed so that the same seed and size give the same
// file, and written through the file access layer like any program writes
// a catalogue.
#pragma once

#include <cstdint>
#include <string>

#include "convert23/catalogue_file.h"
#include "fileaccess/declarations.h"

namespace qbx::sample {

struct SampleOptions {
  std::uint32_t records = 0;
  std::uint64_t seed = 1;
  convert23::Layout layout = convert23::Layout::kOld;
};

// Makes the records of one sample, one after the other.
class MovieSample {
 public:
  explicit MovieSample(std::uint64_t seed);

  // Fills the file's record buffer with the next movie, every field written
  // (the buffer is cleared first).
  void fillNext(convert23::CatalogueFile& file);

 private:
  std::uint64_t next();
  // A number from 0 to bound - 1; bound > 0.
  std::uint32_t below(std::uint32_t bound);
  bool percent(std::uint32_t chance) { return below(100) < chance; }

  std::uint64_t state_;
  std::uint32_t made_ = 0;
};

// The outcome of a file operation sequence: the first error's code and text
// (0 and empty on success) and the records written or counted.
struct SampleResult {
  int error = 0;
  std::string errorText;
  std::uint32_t records = 0;
};

// Writes a sample catalogue: CREATE (replacing the catalogue table of an
// existing file), OPEN, STREAM, the records by APPEND, FLUSH, BUILD of every
// key and CLOSE, through the given driver entry. The declaration is the
// layout's own with the CREATE attribute.
SampleResult writeSample(const std::string& path, const SampleOptions& options,
                         fileaccess::DriverEntryFn entry);

// Counts the records of a catalogue file opened for reading, others sharing
// it freely: with the old layout, or with the new one when the stored
// definition is the new layout's. *layout tells which one matched.
SampleResult countRecords(const std::string& path, fileaccess::DriverEntryFn entry,
                          convert23::Layout* layout);

}  // namespace qbx::sample
