#include "platform/codepage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(CodePage, KnownCharacters) {
  struct Case {
    std::uint8_t ansi;
    std::uint8_t oem;
    const char* what;
  };
  const Case cases[] = {
      {'A', 'A', "ASCII"},           {0x0D, 0x0D, "control"},
      {0xE9, 0x82, "e acute"},       {0xC4, 0x8E, "A diaeresis"},
      {0xFC, 0x81, "u diaeresis"},   {0xDF, 0xE1, "sharp s"},
      {0xA3, 0x9C, "pound sign"},    {0xB0, 0xF8, "degree"},
      {0xA0, 0xFF, "no-break space"}, {0x83, 0x9F, "f hook"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::kAnsiToOem[c.ansi], c.oem) << c.what;
    EXPECT_EQ(platform::kOemToAnsi[c.oem], c.ansi) << c.what;
  }
}

TEST(CodePage, BestFitForMissingCharacters) {
  struct Case {
    std::uint8_t ansi;
    std::uint8_t oem;
    const char* what;
  };
  const Case cases[] = {
      {0xC3, 'A', "A tilde loses its accent"},
      {0x8A, 'S', "S caron"},
      {0x9F, 'Y', "Y diaeresis"},
      {0xE3, 'a', "a tilde"},
      {0x80, '?', "euro sign"},
      {0xD8, '?', "O stroke has no decomposition"},
      {0x81, '?', "undefined in Windows-1252"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::kAnsiToOem[c.ansi], c.oem) << c.what;
  EXPECT_EQ(platform::kOemToAnsi[0xC4], '?');  // box drawing
  EXPECT_EQ(platform::kOemToAnsi[0xE0], '?');  // alpha
}

TEST(CodePage, RoundTripOfSharedCharactersAndInPlaceBuffers) {
  // Every OEM character that Windows-1252 has comes back unchanged.
  int shared = 0;
  for (int oem = 0; oem < 256; ++oem) {
    const std::uint8_t ansi = platform::kOemToAnsi[oem];
    if (ansi == '?' && oem != '?') continue;
    EXPECT_EQ(platform::kAnsiToOem[ansi], oem) << "OEM byte " << oem;
    ++shared;
  }
  EXPECT_GE(shared, 128 + 40);

  std::vector<std::uint8_t> text = bytes("Caf\xE9 M\xFCller \xC3");
  platform::charToOem(text);
  EXPECT_EQ(text, bytes("Caf\x82 M\x81ller A"));
  platform::oemToChar(text);
  EXPECT_EQ(text, bytes("Caf\xE9 M\xFCller A"));
}

}  // namespace
