// A fresh temporary directory for one test, removed with everything in it
// when the object goes away.
#pragma once

#include <string>

namespace support {

class TempDir {
 public:
  // Creates "qbx-test-XXXXXX" in $TMPDIR (else /tmp); aborts the test
  // program when that is impossible, since no test can run without it.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The full name of an entry in the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace support
