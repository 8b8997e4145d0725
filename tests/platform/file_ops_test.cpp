#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using platform::Access;
using platform::File;
using platform::OpenOptions;
using platform::Share;

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::size_t entries(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

const OpenOptions kReadShared{Access::kRead, Share::kDenyNone, false, false};

TEST(FileOps, RemoveRefusesAFileThatIsOpen) {
  support::TempDir dir;
  const std::string path = dir.file("f");
  writeText(path, "x");
  File holder;
  ASSERT_EQ(holder.open(path, kReadShared), 0);
  EXPECT_EQ(platform::removeFile(path), 5);
  EXPECT_TRUE(exists(path));
  holder.close();
  EXPECT_EQ(platform::removeFile(path), 0);
  EXPECT_FALSE(exists(path));
  EXPECT_EQ(platform::removeFile(path), 2);
  EXPECT_EQ(platform::removeFile(dir.file("nodir/f")), 3);
}

TEST(FileOps, RemoveRefusesAFileOpenInAnotherProcess) {
  support::TempDir dir;
  const std::string path = dir.file("f");
  writeText(path, "x");
  support::ChildProcess child([&](support::ChildChannel& ch) {
    File f;
    if (f.open(path, kReadShared) != 0) return 1;
    ch.send('O');
    return ch.expect('X', std::chrono::seconds(20)) ? 0 : 2;
  });
  ASSERT_TRUE(child.channel().expect('O', std::chrono::seconds(20)));
  EXPECT_EQ(platform::removeFile(path), 5);
  EXPECT_EQ(platform::moveFile(path, dir.file("g")), 5);
  EXPECT_EQ(platform::copyFile(path, dir.file("g"), true), 5);
  ASSERT_TRUE(child.channel().send('X'));
  EXPECT_TRUE(child.wait().exitedWith(0));
  EXPECT_TRUE(exists(path));
  EXPECT_FALSE(exists(dir.file("g")));
}

TEST(FileOps, MoveNeverReplaces) {
  support::TempDir dir;
  writeText(dir.file("a"), "A");
  writeText(dir.file("b"), "B");
  EXPECT_EQ(platform::moveFile(dir.file("a"), dir.file("b")), 80);
  EXPECT_EQ(readText(dir.file("b")), "B");
  EXPECT_EQ(platform::moveFile(dir.file("a"), dir.file("c")), 0);
  EXPECT_FALSE(exists(dir.file("a")));
  EXPECT_EQ(readText(dir.file("c")), "A");
  EXPECT_EQ(platform::moveFile(dir.file("a"), dir.file("d")), 2);
  EXPECT_EQ(platform::moveFile(dir.file("c"), dir.file("nodir/d")), 3);
  EXPECT_TRUE(exists(dir.file("c")));
}

TEST(FileOps, CopyThroughATemporaryFile) {
  support::TempDir dir;
  std::string big(600 * 1024 + 17, '\0');  // more than one copy buffer
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
  writeText(dir.file("src"), big);
  ::chmod(dir.file("src").c_str(), 0640);
  writeText(dir.file("old"), "old");

  EXPECT_EQ(platform::copyFile(dir.file("src"), dir.file("new"), false), 0);
  EXPECT_EQ(readText(dir.file("new")), big);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  EXPECT_EQ(platform::copyFile(dir.file("src"), dir.file("old"), false), 80);
  EXPECT_EQ(readText(dir.file("old")), "old");
  EXPECT_EQ(platform::copyFile(dir.file("src"), dir.file("old"), true), 0);
  EXPECT_EQ(readText(dir.file("old")), big);

  EXPECT_EQ(platform::copyFile(dir.file("none"), dir.file("x"), true), 2);
  EXPECT_EQ(platform::copyFile(dir.file("src"), dir.file("nodir/x"), true), 3);
  // An open target is not replaced under its holder.
  File holder;
  ASSERT_EQ(holder.open(dir.file("old"), kReadShared), 0);
  EXPECT_EQ(platform::copyFile(dir.file("src"), dir.file("old"), true), 5);
  holder.close();
  // The source itself, the old file and the new one: no temporary is left.
  EXPECT_EQ(entries(dir.path()), 3u);
}

TEST(FileOps, IdentityFollowsLinksAndLetterCase) {
  support::TempDir dir;
  writeText(dir.file("name"), "x");
  writeText(dir.file("NAME"), "y");
  ASSERT_EQ(::link(dir.file("name").c_str(), dir.file("hard").c_str()), 0);
  ASSERT_EQ(::symlink("name", dir.file("soft").c_str()), 0);
  platform::FileId base, hard, soft, upper;
  ASSERT_EQ(platform::fileId(dir.file("name"), &base), 0);
  ASSERT_EQ(platform::fileId(dir.file("hard"), &hard), 0);
  ASSERT_EQ(platform::fileId(dir.file("soft"), &soft), 0);
  ASSERT_EQ(platform::fileId(dir.file("NAME"), &upper), 0);
  EXPECT_EQ(base, hard);
  EXPECT_EQ(base, soft);
  EXPECT_FALSE(base == upper);
  File f;
  ASSERT_EQ(f.open(dir.file("soft"), kReadShared), 0);
  EXPECT_EQ(f.id(), base);
  EXPECT_EQ(platform::fileId(dir.file("none"), &base), 2);
}

}  // namespace
