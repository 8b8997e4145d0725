#include "platform/errors.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using platform::IoDirection;

TEST(Errors, ErrnoTable) {
  struct Case {
    int err;
    IoDirection direction;
    int expected;
  };
  const Case cases[] = {
      {0, IoDirection::kRead, 0},
      {ENOENT, IoDirection::kRead, 2},
      {ENOTDIR, IoDirection::kRead, 3},
      {EMFILE, IoDirection::kRead, 4},
      {EACCES, IoDirection::kRead, 5},
      {EPERM, IoDirection::kWrite, 5},
      {EISDIR, IoDirection::kRead, 5},
      {EBADF, IoDirection::kRead, 6},
      {ENOMEM, IoDirection::kRead, 8},
      {EXDEV, IoDirection::kRead, 17},
      {EROFS, IoDirection::kWrite, 19},
      {EIO, IoDirection::kWrite, 29},
      {EIO, IoDirection::kRead, 30},
      {ENOSPC, IoDirection::kWrite, 39},
      {EDQUOT, IoDirection::kWrite, 39},
      {ENAMETOOLONG, IoDirection::kRead, 45},
      {EEXIST, IoDirection::kRead, 80},
      {EINVAL, IoDirection::kRead, 87},
      {ECONNRESET, IoDirection::kRead, 31},  // fallback
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::errorFromErrno(c.err, c.direction), c.expected) << "errno " << c.err;
  }
}

TEST(Errors, MissingFileOrMissingDirectory) {
  support::TempDir dir;
  EXPECT_EQ(platform::errorForPath(ENOENT, dir.file("nofile")), 2);
  EXPECT_EQ(platform::errorForPath(ENOENT, dir.file("nodir/nofile")), 3);
  EXPECT_EQ(platform::errorForPath(ENOENT, "relative-name"), 2);
  EXPECT_EQ(platform::errorForPath(EACCES, dir.file("x")), 5);
}

}  // namespace
