// The INI reader of the profile file, from arbitrary text.
//
// Input: the file's text. Parsing takes any bytes; the keys the driver reads
// are then looked up in several letter case mixes and read as integers.
#include <cstdint>
#include <string_view>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const platform::Profile profile = platform::Profile::parse(text);
  static constexpr std::string_view kLookups[][2] = {
      {"RDQUILLBOX", "Profile"}, {"rdquillbox", "TRACEFILE"}, {"RdQuillBox", "details"},
      {"a", "b"},                {"", ""},                    {"[x]", "k=v"},
  };
  for (const auto& lookup : kLookups) {
    if (const std::string* value = profile.find(lookup[0], lookup[1])) {
      (void)platform::profileIntFromText(*value);
    }
  }
  (void)platform::profileIntFromText(text);
  return 0;
}
