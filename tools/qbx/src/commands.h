// The subcommands of qbx. Each writes its data to out and its diagnostics
// to err and returns the program's exit status.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "qbx/database.h"
#include "qbx/inspector/command_line.h"

namespace qbx::inspector {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDamaged = 1;  // a check found problems, or a command met damage
inline constexpr int kExitUsage = 2;    // a usage error, or a file that cannot be opened

// Output gathered in a buffer and written in large pieces.
class Output {
 public:
  explicit Output(std::FILE* stream) : stream_(stream) {}
  ~Output() { flush(); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::string& buffer() { return buffer_; }
  Output& operator<<(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kChunk) flush();
    return *this;
  }
  // Writes what is gathered when it has grown large.
  void maybeFlush() {
    if (buffer_.size() >= kChunk) flush();
  }
  // False once a write has failed.
  bool flush();

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  std::FILE* stream_;
  std::string buffer_;
  bool failed_ = false;
};

// The exit status an error code of the engine calls for: files that are
// damaged or not QBX files give 1, everything else 2.
int exitStatusOf(int code);

// "qbx: FILE: error 2 File Not Found", with the internal error of a 90.
void reportError(std::FILE* err, const std::string& file, int code, int internalError = 0);

// Opens the command's file for reading; on failure reports it and gives the
// exit status in *status.
bool openDatabase(const Command& command, Database& db, std::FILE* err, int* status);

// The table the command names, or the file's default; on failure reports it
// and gives the exit status.
bool chooseTable(const Command& command, Database& db, std::FILE* err, std::string* table,
                 int* status);

int runInfo(const Command& command, std::FILE* out, std::FILE* err);
int runTables(const Command& command, std::FILE* out, std::FILE* err);
int runSchema(const Command& command, std::FILE* out, std::FILE* err);
int runDump(const Command& command, std::FILE* out, std::FILE* err);
int runCheck(const Command& command, std::FILE* out, std::FILE* err);
int runSample(const Command& command, std::FILE* out, std::FILE* err);

}  // namespace qbx::inspector
