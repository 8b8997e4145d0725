// Running the qbx program as a user runs it: a child process in a test's
// directory, its output and diagnostics captured, no profile of the user's.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace qbx::inspector::testing {

inline const std::string kQbx = QBX_PROGRAM;

struct QbxRun {
  support::ChildStatus status;
  std::string out;
  std::string err;
};

// Runs qbx with the arguments in dir (its current directory).
QbxRun runQbx(std::vector<std::string> args, const std::string& dir);

std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// The offsets at which the bytes of text occur in the file.
std::vector<std::size_t> findAll(const std::vector<std::uint8_t>& bytes, const std::string& text);

// Whether text holds part, showing the text when it does not.
inline ::testing::AssertionResult contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace qbx::inspector::testing
