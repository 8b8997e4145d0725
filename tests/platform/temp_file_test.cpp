#include "platform/temp_file.h"

#include <cerrno>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "support/fault_file.h"
#include "support/temp_dir.h"

namespace {

std::size_t entries(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(TempFile, NamelessWhileOpenAndPositioned) {
  support::TempDir dir;
  platform::TempFile t;
  ASSERT_EQ(t.create(dir.path()), 0);
  EXPECT_EQ(entries(dir.path()), 0u);  // unlinked as soon as it was made

  std::vector<std::uint8_t> out(40000);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i % 251);
  ASSERT_EQ(t.write(out), 0);
  ASSERT_EQ(t.write(std::vector<std::uint8_t>{7, 8}), 0);
  EXPECT_EQ(t.position(), 40002u);
  std::uint64_t length = 0;
  ASSERT_EQ(t.size(&length), 0);
  EXPECT_EQ(length, 40002u);

  ASSERT_EQ(t.seek(0), 0);
  std::vector<std::uint8_t> in(40000);
  std::size_t got = 0;
  ASSERT_EQ(t.read(in, &got), 0);
  EXPECT_EQ(got, in.size());
  EXPECT_EQ(in, out);
  std::vector<std::uint8_t> rest(10);
  ASSERT_EQ(t.read(rest, &got), 0);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(rest[1], 8);
  EXPECT_EQ(t.position(), 40002u);

  ASSERT_EQ(t.readAt(100, rest, &got), 0);
  EXPECT_EQ(rest[0], out[100]);
  EXPECT_EQ(t.position(), 40002u);
}

TEST(TempFile, UsesTheTemporaryDirectoryAndReportsFailures) {
  support::TempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  platform::TempFile t;
  const int made = t.create();
  ::setenv("TMPDIR", dir.file("missing").c_str(), 1);
  platform::TempFile u;
  const int missing = u.create();
  if (old != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(made, 0);
  EXPECT_EQ(missing, 3);
  EXPECT_FALSE(u.isOpen());

  support::FaultFile faults;
  faults.failWrite(1, ENOSPC);
  EXPECT_EQ(t.write(std::vector<std::uint8_t>(10)), 39);
  EXPECT_EQ(t.position(), 0u);  // a failed write does not move the position
  EXPECT_EQ(faults.writes(), 1);
}

}  // namespace
