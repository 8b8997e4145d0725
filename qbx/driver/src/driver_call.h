// One call of the driver entry as its handler sees it: the file, the key
// argument, the remaining argument words, the popped texts, and the numeric
// and text outputs the handler gives back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fileaccess/declarations.h"
#include "qbx/driver/qbx_file.h"

namespace qbx::driver {

struct DriverCall {
  DriverCall(int op, fileaccess::FileBlock& fileBlock, QbxFile& qbxFile)
      : code(op), block(fileBlock), file(qbxFile) {}

  int code = 0;
  fileaccess::FileBlock& block;
  QbxFile& file;
  // The key argument of the operations that take one, already checked to
  // belong to this file; null for the others.
  records::QbxKeyDef* key = nullptr;
  // The argument words after the key argument; at least
  // fileaccess::kMinArgumentWords - 1 of them can be read.
  const std::intptr_t* words = nullptr;
  // Text A (popped first) and text B; absent when the stack held none.
  std::optional<std::string> textA;
  std::optional<std::string> textB;
  // The handler's outputs: the numeric result of the call, and the text
  // result of the operations that push one.
  std::int32_t numeric = 0;
  std::string text;

  std::intptr_t word(std::size_t i) const { return words[i]; }
  const std::string& a() const { return textA ? *textA : empty(); }
  const std::string& b() const { return textB ? *textB : empty(); }

 private:
  static const std::string& empty() {
    static const std::string kEmpty;
    return kEmpty;
  }
};

}  // namespace qbx::driver
