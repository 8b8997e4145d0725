#include "platform/profile.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using platform::Profile;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

const char* const kText =
    "\xEF\xBB\xBF"
    "Stray=before any section\r\n"
    "[Other]\r\n"
    "Profile=7\r\n"
    "[ rdQuillBox ]\r\n"
    "; Profile=9 is a comment\r\n"
    "  profile =  1  \r\n"
    "PROFILE=2\r\n"
    "TraceFile = \"/tmp/with space.log\" \r\n"
    "Details=12abc\r\n"
    "Semi=a;b\r\n"
    "Empty=\r\n"
    "no equals sign here\r\n"
    "[broken\r\n"
    "Hidden=1\r\n"
    "[RDQUILLBOX]\r\n"
    "Profile=3\r\n"
    "Late=yes";  // no line end at the end of the file

TEST(Profile, ParseRules) {
  const Profile p = Profile::parse(kText);
  struct Case {
    const char* section;
    const char* key;
    const char* value;  // nullptr: missing
  };
  const Case cases[] = {
      {"RDQUILLBOX", "Profile", "1"},  // first occurrence, any case, trimmed
      {"rdquillbox", "PROFILE", "1"},
      {"Other", "Profile", "7"},
      {"RDQUILLBOX", "TraceFile", "/tmp/with space.log"},
      {"RDQUILLBOX", "Details", "12abc"},
      {"RDQUILLBOX", "Semi", "a;b"},
      {"RDQUILLBOX", "Empty", ""},
      {"RDQUILLBOX", "Late", "yes"},  // the section's second appearance counts
      {"RDQUILLBOX", "Hidden", nullptr},  // after a malformed header
      {"RDQUILLBOX", "Stray", nullptr},
      {"Missing", "Profile", nullptr},
  };
  for (const Case& c : cases) {
    const std::string* v = p.find(c.section, c.key);
    if (c.value == nullptr) {
      EXPECT_EQ(v, nullptr) << c.section << "/" << c.key;
    } else {
      ASSERT_NE(v, nullptr) << c.section << "/" << c.key;
      EXPECT_EQ(*v, c.value) << c.section << "/" << c.key;
    }
  }
}

TEST(Profile, IntegersTakeLeadingDigits) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {{"1", 1}, {"12abc", 12}, {"abc", 0}, {"", 0},
                        {"-5", 0}, {"007", 7}, {"4294967297", 1}};
  for (const Case& c : cases) EXPECT_EQ(platform::profileIntFromText(c.text), c.value) << c.text;
}

TEST(Profile, ReadFromTheFileNamedByTheEnvironment) {
  support::TempDir dir;
  const std::string ini = dir.file("q.ini");
  std::ofstream(ini) << kText;
  ScopedEnv env("QUILLBOX_INI", ini.c_str());
  EXPECT_EQ(platform::getProfileInt("RDQUILLBOX", "Profile", 0), 1);
  EXPECT_EQ(platform::getProfileInt("RDQUILLBOX", "Details", 0), 12);
  EXPECT_EQ(platform::getProfileInt("RDQUILLBOX", "Empty", 42), 0);
  EXPECT_EQ(platform::getProfileInt("RDQUILLBOX", "Nothing", 42), 42);
  EXPECT_EQ(platform::getProfileString("RDQUILLBOX", "TraceFile", "QUILLBOX.LOG"),
            "/tmp/with space.log");
  EXPECT_EQ(platform::getProfileString("RDQUILLBOX", "Nothing", "QUILLBOX.LOG"), "QUILLBOX.LOG");

  // A missing file, a directory or a FIFO in its place: every default, no hang.
  ::mkfifo(dir.file("fifo").c_str(), 0666);
  for (const std::string& path : {dir.file("none.ini"), dir.path(), dir.file("fifo")}) {
    ScopedEnv other("QUILLBOX_INI", path.c_str());
    EXPECT_EQ(platform::getProfileInt("RDQUILLBOX", "Profile", 5), 5) << path;
  }
}

TEST(Profile, PathFromEnvironment) {
  ScopedEnv ini("QUILLBOX_INI", nullptr);
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(platform::profilePath(), "/cfg/quillbox.ini");
  }
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::profilePath(), "/home/someone/.config/quillbox.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative");  // only absolute names count
    EXPECT_EQ(platform::profilePath(), "/home/someone/.config/quillbox.ini");
  }
  ScopedEnv noHome("HOME", nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(platform::profilePath(), "");
  ScopedEnv set("QUILLBOX_INI", "/x/q.ini");
  EXPECT_EQ(platform::profilePath(), "/x/q.ini");
}

TEST(Profile, HugeFilesAreReadUpToTheCap) {
  support::TempDir dir;
  const std::string ini = dir.file("big.ini");
  {
    std::ofstream out(ini, std::ios::binary);
    out << "[S]\nA=1\nLong=" << std::string(3 * platform::kMaxProfileBytes, 'x') << "\nB=2\n";
  }
  const Profile p = Profile::load(ini);
  ASSERT_NE(p.find("S", "A"), nullptr);
  EXPECT_EQ(p.find("S", "Long"), nullptr);  // cut at the cap: dropped
  EXPECT_EQ(p.find("S", "B"), nullptr);     // beyond the cap
}

}  // namespace
