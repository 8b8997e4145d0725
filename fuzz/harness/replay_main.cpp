// The main of a replay program: feeds every file of the directories (or the
// files) named on the command line to the fuzz target once, in name order, so
// that kept inputs run under any compiler and in the normal test suite. A
// crash or sanitizer report ends the program; a missing directory counts as
// empty, but a run that found no input at all fails, so that a mistyped path
// cannot pass unnoticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The files to run: a file as it is, a directory's regular files (names
// starting with '.' left out) sorted by name.
std::vector<fs::path> inputsOf(const fs::path& path) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) return {path};
  std::vector<fs::path> files;
  if (!fs::is_directory(path, ec)) return files;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.' && it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The whole file in an allocation of exactly its size, so that a read one
// byte past the input is a sanitizer report here as it is under the fuzzer.
bool runFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0) return false;
  in.seekg(0, std::ios::beg);
  const auto size = static_cast<std::size_t>(length);
  std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[size == 0 ? 1 : size]);
  if (size > 0 && !in.read(reinterpret_cast<char*>(data.get()), length)) return false;
  (void)LLVMFuzzerTestOneInput(data.get(), size);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) (void)LLVMFuzzerInitialize(&argc, &argv);
  std::size_t ran = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : inputsOf(argv[i])) {
      std::printf("replay %s\n", file.c_str());
      std::fflush(stdout);
      if (!runFile(file)) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 2;
      }
      ++ran;
    }
  }
  std::printf("%zu inputs replayed\n", ran);
  if (ran == 0) {
    std::fprintf(stderr, "no input found\n");
    return 3;
  }
  return 0;
}
