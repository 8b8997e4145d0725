// The findings of a check on their way to the sink: counted, and limited to
// a few examples per kind of problem, so that a badly damaged file gives a
// readable report instead of one line per entry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "qbx/inspector/integrity_check.h"

namespace qbx::inspector {

class ProblemLog {
 public:
  // Examples shown of one kind of problem.
  static constexpr std::uint64_t kExamples = 10;

  explicit ProblemLog(CheckSink& sink) : sink_(sink) {}

  void problem(std::string_view text) {
    ++count_;
    sink_.problem(text);
  }
  // A problem of a kind that may repeat for many entries: the first
  // kExamples are shown, the rest counted.
  void repeated(const std::string& kind, std::string_view text) {
    ++count_;
    if (++kinds_[kind] <= kExamples) sink_.problem(text);
  }
  void note(std::string_view text) { sink_.note(text); }
  // One line per kind of problem whose examples were cut short.
  void finish() {
    for (const auto& [kind, n] : kinds_) {
      if (n > kExamples) {
        sink_.problem(kind + ": " + std::to_string(n - kExamples) + " more like these");
      }
    }
    kinds_.clear();
  }
  std::uint64_t count() const { return count_; }

 private:
  CheckSink& sink_;
  std::uint64_t count_ = 0;
  std::map<std::string, std::uint64_t> kinds_;
};

// "error 90 File System Error (internal error 1602)": the text of a result
// for a problem line.
std::string describeError(int code, int internalError = 0);

}  // namespace qbx::inspector
