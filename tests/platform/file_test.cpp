#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using platform::Access;
using platform::File;
using platform::OpenOptions;
using platform::Share;

const OpenOptions kCreateRw{Access::kReadWrite, Share::kDenyNone, true, false};
const OpenOptions kRead{Access::kRead, Share::kDenyNone, false, false};
const OpenOptions kReadWrite{Access::kReadWrite, Share::kDenyNone, false, false};

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(File, RoundTripAtOffsetsPast4GiB) {
  support::TempDir dir;
  File f;
  ASSERT_EQ(f.open(dir.file("big"), kCreateRw), 0);
  const std::uint64_t far = 0x1'0000'0000ull + 7;  // sparse: costs no disk space
  const std::array<std::uint8_t, 5> out{1, 2, 3, 4, 5};
  ASSERT_EQ(f.write(far, out), 0);
  ASSERT_EQ(f.write(3, out), 0);
  std::uint64_t length = 0;
  ASSERT_EQ(f.size(&length), 0);
  EXPECT_EQ(length, far + out.size());

  std::array<std::uint8_t, 5> in{};
  std::size_t got = 0;
  ASSERT_EQ(f.read(far, in, &got), 0);
  EXPECT_EQ(got, in.size());
  EXPECT_EQ(in, out);
  // A read running over the end returns the bytes that are there.
  std::array<std::uint8_t, 16> tail{};
  ASSERT_EQ(f.read(far + 2, tail, &got), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(tail[0], 3);
  ASSERT_EQ(f.read(far + 100, tail, &got), 0);
  EXPECT_EQ(got, 0u);

  ASSERT_EQ(f.setEnd(5), 0);
  ASSERT_EQ(f.size(&length), 0);
  EXPECT_EQ(length, 5u);
  ASSERT_EQ(f.flush(), 0);
  // Offsets the kernel cannot take are refused, not wrapped.
  EXPECT_EQ(f.write(0xFFFF'FFFF'FFFF'FFF0ull, out), 87);
}

TEST(File, CreateKeepsExistingContents) {
  support::TempDir dir;
  writeText(dir.file("f"), "keep");
  File f;
  ASSERT_EQ(f.open(dir.file("f"), kCreateRw), 0);
  std::array<std::uint8_t, 8> in{};
  std::size_t got = 0;
  ASSERT_EQ(f.read(0, in, &got), 0);
  EXPECT_EQ(std::string(in.begin(), in.begin() + got), "keep");
}

TEST(File, OpenFailures) {
  support::TempDir dir;
  ::mkdir(dir.file("sub").c_str(), 0777);
  ::mkfifo(dir.file("fifo").c_str(), 0666);
  writeText(dir.file("plain"), "x");
  struct Case {
    const char* what;
    std::string path;
    OpenOptions options;
    int expected;
  };
  const Case cases[] = {
      {"missing file", dir.file("none"), kRead, 2},
      {"missing directory", dir.file("nodir/x"), kRead, 3},
      {"create in missing directory", dir.file("nodir/x"), kCreateRw, 3},
      {"file used as directory", dir.file("plain/x"), kRead, 3},
      {"directory", dir.file("sub"), kRead, 5},
      {"directory for writing", dir.file("sub"), kReadWrite, 5},
      {"fifo (must not hang)", dir.file("fifo"), kRead, 5},
      {"empty name", "", kRead, 45},
      {"name too long", dir.file(std::string(5000, 'n')), kRead, 45},
      {"NUL in name", std::string("a\0b", 3), kRead, 45},
  };
  for (const Case& c : cases) {
    File f;
    EXPECT_EQ(f.open(c.path, c.options), c.expected) << c.what;
    EXPECT_FALSE(f.isOpen()) << c.what;
  }
}

TEST(File, RightsAndWriteLocks) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
  support::TempDir dir;
  writeText(dir.file("ro"), "x");
  writeText(dir.file("rw"), "x");
  ::chmod(dir.file("ro").c_str(), 0444);

  File f;
  EXPECT_EQ(f.open(dir.file("ro"), kReadWrite), 5);
  EXPECT_EQ(f.open(dir.file("ro"), OpenOptions{Access::kWrite, Share::kDenyNone, false, false}), 5);

  // writeLocks falls back to a read-only descriptor when rights forbid more.
  ASSERT_EQ(f.open(dir.file("ro"), OpenOptions{Access::kRead, Share::kDenyNone, false, true}), 0);
  EXPECT_FALSE(f.canWrite());
  const std::array<std::uint8_t, 1> b{9};
  EXPECT_EQ(f.write(0, b), 5);
  EXPECT_EQ(f.setEnd(0), 5);

  ASSERT_EQ(f.open(dir.file("rw"), OpenOptions{Access::kRead, Share::kDenyNone, false, true}), 0);
  EXPECT_TRUE(f.canWrite());
  ASSERT_EQ(f.open(dir.file("rw"), kRead), 0);
  EXPECT_FALSE(f.canWrite());
}

TEST(File, ClosedFileRefusesEverything) {
  File f;
  std::array<std::uint8_t, 4> b{};
  std::size_t got = 99;
  std::uint64_t length = 0;
  EXPECT_EQ(f.read(0, b, &got), 6);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(f.write(0, b), 6);
  EXPECT_EQ(f.flush(), 6);
  EXPECT_EQ(f.setEnd(0), 6);
  EXPECT_EQ(f.size(&length), 6);
  EXPECT_EQ(f.lock(0x80000000, 1, platform::LockKind::kExclusive, false), 6);
}

TEST(File, MoveTransfersTheOpenFileAndItsLocks) {
  support::TempDir dir;
  File a;
  ASSERT_EQ(a.open(dir.file("f"), kCreateRw), 0);
  ASSERT_EQ(a.lock(0x80000010, 1, platform::LockKind::kExclusive, false), 0);
  File b(std::move(a));
  EXPECT_FALSE(a.isOpen());
  EXPECT_TRUE(b.isOpen());
  EXPECT_TRUE(b.holds(0x80000010, 1));
  EXPECT_EQ(b.unlock(0x80000010, 1), 0);
}

}  // namespace
