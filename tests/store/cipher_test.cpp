#include "qbx/store/cipher.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "platform/endian.h"

namespace {

using qbx::store::CipherKey;

using Unit = std::array<std::uint8_t, 64>;

Unit unitOfWords(const std::array<std::uint32_t, 16>& words) {
  Unit u{};
  for (std::size_t i = 0; i < 16; ++i) platform::storeLe32(u, i * 4, words[i]);
  return u;
}

std::array<std::uint32_t, 16> wordsOfUnit(const Unit& u) {
  std::array<std::uint32_t, 16> w{};
  for (std::size_t i = 0; i < 16; ++i) w[i] = platform::loadLe32(u, i * 4);
  return w;
}

// Sixteen distinct words, so that any word moved to the wrong place shows.
constexpr std::array<std::uint32_t, 16> kDistinct = {
    0x11111101u, 0x22222202u, 0x33333303u, 0x44444404u, 0x55555505u, 0x66666606u,
    0x77777707u, 0x88888808u, 0x99999909u, 0xAAAAAA0Au, 0xBBBBBB0Bu, 0xCCCCCC0Cu,
    0xDDDDDD0Du, 0xEEEEEE0Eu, 0xFFFFFF0Fu, 0x01020310u};

TEST(Cipher, BuffersRoundTripUnitByUnit) {
  std::mt19937 rng(20261211);
  const char* passwords[] = {"A", "secret", "a much longer owner password of many characters",
                             "\xFF\xFE\x80"};
  for (const char* password : passwords) {
    SCOPED_TRACE(password);
    const CipherKey key = qbx::store::buildCipherKey(password);
    for (std::size_t units : {1u, 2u, 7u, 64u}) {
      std::vector<std::uint8_t> plain(units * 64);
      for (auto& b : plain) b = static_cast<std::uint8_t>(rng());
      std::vector<std::uint8_t> data = plain;
      qbx::store::encipherBuffer(key, data);
      EXPECT_NE(data, plain);
      // Each unit is enciphered on its own: the second unit of a buffer
      // enciphers like a lone unit.
      if (units >= 2) {
        Unit lone;
        std::copy_n(plain.begin() + 64, 64, lone.begin());
        qbx::store::encipherUnit(key, lone);
        EXPECT_TRUE(std::equal(lone.begin(), lone.end(), data.begin() + 64));
      }
      qbx::store::decipherBuffer(key, data);
      EXPECT_EQ(data, plain);
    }
  }
}

TEST(Cipher, RandomKeysRoundTrip) {
  // Random key words reach every combination of exchange targets j and
  // self-steps (j = i), including words with the top bits set.
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    CipherKey key;
    for (auto& w : key) w = static_cast<std::uint32_t>(rng());
    Unit plain;
    for (auto& b : plain) b = static_cast<std::uint8_t>(rng());
    Unit data = plain;
    qbx::store::encipherUnit(key, data);
    qbx::store::decipherUnit(key, data);
    ASSERT_EQ(data, plain) << "round " << round;
  }
}

TEST(Cipher, AllZeroKeyRotatesWordZeroThroughTheOthers) {
  const CipherKey zero{};
  Unit u = unitOfWords(kDistinct);
  qbx::store::encipherUnit(zero, u);
  const auto out = wordsOfUnit(u);
  EXPECT_EQ(out[0], kDistinct[15]);
  for (std::size_t i = 1; i < 16; ++i) EXPECT_EQ(out[i], kDistinct[i - 1]) << "word " << i;
  qbx::store::decipherUnit(zero, u);
  EXPECT_EQ(wordsOfUnit(u), kDistinct);
}

TEST(Cipher, StepWhoseKeyNamesItsOwnWordOnlyAddsTheKey) {
  // Key words 0 to 14 are 0 (each exchanges word 0 with word i); word 15 has
  // (k & 15) = 15, so step 15 only adds k to word 15, modulo 2^32.
  for (std::uint32_t k15 : {0x0000000Fu, 0x1234567Fu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(k15);
    CipherKey key{};
    key[15] = k15;
    Unit u = unitOfWords(kDistinct);
    qbx::store::encipherUnit(key, u);
    const auto out = wordsOfUnit(u);
    EXPECT_EQ(out[0], kDistinct[14]);
    for (std::size_t i = 1; i < 15; ++i) EXPECT_EQ(out[i], kDistinct[i - 1]) << "word " << i;
    EXPECT_EQ(out[15], static_cast<std::uint32_t>(kDistinct[15] + k15));
  }
  // Every key word naming its own word: each word is only increased.
  CipherKey self{};
  for (std::uint32_t i = 0; i < 16; ++i) self[i] = 0xA5A5A500u | (0x10u * i) | i;
  Unit u = unitOfWords(kDistinct);
  qbx::store::encipherUnit(self, u);
  const auto out = wordsOfUnit(u);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(out[i], static_cast<std::uint32_t>(kDistinct[i] + self[i])) << "word " << i;
  }
}

TEST(Cipher, OneCharacterPasswordAlternatesZeroAndCharacter) {
  // The bytes taken run from the second character: the terminating zero, the
  // character, the zero, ... each plus the step number.
  const auto bytes = qbx::store::cipherKeyScheduleBytes("A");
  for (unsigned i = 0; i < 64; ++i) {
    const unsigned taken = (i % 2 == 0) ? 0u : unsigned{'A'};
    EXPECT_EQ(bytes[(i * 17) % 64], (taken + i) % 256) << "step " << i;
  }
}

TEST(Cipher, ScheduleRepeatsEveryLengthPlusOneSteps) {
  const auto bytes = qbx::store::cipherKeyScheduleBytes("abc");
  const std::uint8_t taken[] = {'b', 'c', 0, 'a'};
  for (unsigned i = 0; i < 64; ++i) {
    EXPECT_EQ(bytes[(i * 17) % 64], static_cast<std::uint8_t>(taken[i % 4] + i)) << "step " << i;
  }
}

TEST(Cipher, KeysAndUnitMatchKnownValues) {
  // Worked out independently of this code from the key schedule and the unit
  // algorithm. The self-encipher passes read each key word as the pass has
  // changed it so far; a copy of the key taken before the pass gives other
  // words.
  struct Case {
    const char* password;
    CipherKey key;
  };
  const Case cases[] = {
      {"A",
       {0x9048E480u, 0xA8D9D890u, 0xD1ABE8A0u, 0xA8DAF8A0u, 0x10EE3CA0u, 0xC1EB7860u, 0x51F8F4A0u,
        0x50FC7AF0u, 0x20756240u, 0xEA2AE930u, 0xF2ACA920u, 0xC0FCB8D0u, 0xA06DAC98u, 0x4132D150u,
        0xC171D1E0u, 0xD13D5AB0u}},
      {"secret",
       {0x29212960u, 0x48886A11u, 0x8DCA4624u, 0x64B6F5B6u, 0x486702D4u, 0x8260D5A5u, 0x6AAC3460u,
        0xB2D2524Au, 0xCA04C4A0u, 0xD2B6D224u, 0xBDADA2A0u, 0xD0ACD3D2u, 0x92D892CCu, 0xE4F9C44Cu,
        0xB83A9350u, 0xE95DC7A8u}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qbx::store::buildCipherKey(c.password), c.key) << c.password;
  }

  Unit u;
  for (std::size_t i = 0; i < 64; ++i) u[i] = static_cast<std::uint8_t>(i);
  qbx::store::encipherUnit(cases[1].key, u);
  const std::array<std::uint32_t, 16> expected = {
      0xE34CBB78u, 0x4F8E6F15u, 0x8053530Eu, 0x83C502C2u, 0xC7E94924u, 0x9976EAB9u,
      0xD92F42A0u, 0xCE0C8B72u, 0xC79DBFC4u, 0xDDDDD248u, 0xA14FADC0u, 0xF918D8F6u,
      0xBC08B5C8u, 0x0B2BCC00u, 0xF779C4E6u, 0x2679ECD6u};
  EXPECT_EQ(wordsOfUnit(u), expected);
}

}  // namespace
