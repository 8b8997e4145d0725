// The installed interface as a program outside the project uses it:
// cmake --install into a fresh prefix, then a program built against it
// through find_package(qbx) and through pkg-config reads a QBX file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "people_file.h"
#include "support/temp_dir.h"

namespace qbx::inspector::testing {
namespace {

TEST(QbxInstall, PackageAndPkgConfigBuildAProgramThatReadsAFile) {
#ifdef QBX_SANITIZED
  GTEST_SKIP() << "a sanitized build installs archives that need the sanitizer runtime";
#endif
  support::TempDir dir;
  const std::string file = dir.file("people.qbx");
  ASSERT_EQ(writePeople(file, samplePeople()), 0);
  const std::string command = std::string("'") + QBX_CMAKE_COMMAND + "' -DBUILD_DIR='" +
                              QBX_BUILD_DIR + "' -DWORK_DIR='" + dir.file("work") +
                              "' -DQBX_FILE='" + file + "' -P '" + QBX_INSTALL_CHECK + "' > '" +
                              dir.file("log") + "' 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) != 0) {
    const std::string show = "cat '" + dir.file("log") + "'";
    static_cast<void>(std::system(show.c_str()));
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace qbx::inspector::testing
