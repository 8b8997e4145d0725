// The FieldDesc reader and the record clearing built on it, from arbitrary
// bytes.
//
// Input: u32 LE record length, then the stream. Reading yields entries or 75
// and never reads outside the stream; every yielded field lies inside the
// record. Clearing a record by the stream must agree with the reader (75
// exactly when the reader refuses) and with the cleared image of the same
// length.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fileaccess/field_desc.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace {

// Records of the fuzzed length are allocated up to this size only.
constexpr std::uint32_t kLargestRecord = 1u << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fileaccess;
  const std::span<const std::uint8_t> input(data, size);
  if (input.size() < 4) return 0;
  const std::uint32_t recordLength = platform::loadLe32(input, 0);
  const std::span<const std::uint8_t> stream = input.subspan(4);

  std::vector<FieldEntry> entries;
  const int rc = readFieldEntries(stream, recordLength, entries);
  if (rc != 0 && rc != kInvalidFieldDescriptor) std::abort();
  if (rc == 0) {
    if (entries.empty() || entries[0].number != 0) std::abort();
    for (const FieldEntry& e : entries) {
      if (e.offset + e.totalSize() > recordLength) std::abort();
      if (e.streamPos >= stream.size()) std::abort();
    }
  }

  if (recordLength > kLargestRecord) return 0;
  // Zero bytes, as the cleared image starts: bytes outside every field stay so.
  std::vector<std::uint8_t> record(recordLength, 0);
  const std::vector<std::uint8_t> before = record;
  const int cleared = clearRecord(record, stream);
  if (cleared != rc) std::abort();
  if (cleared != 0 && record != before) std::abort();  // a refused stream leaves the record

  std::vector<std::uint8_t> image;
  const int built = buildClearedImage(stream, recordLength, image);
  if (built != rc) std::abort();
  if (built == 0 && image != record) std::abort();
  return 0;
}
