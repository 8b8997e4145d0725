// A small declared file driven through the file access layer exactly as a
// program drives it: a record of a name (STRING 20), a number (LONG) and a
// code (STRING 4), a unique key on the name, a DUP key on the code and a
// dynamic index; a 260-character name variable; calls through
// fileaccess::Call with texts on the string stack.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fileaccess/call.h"
#include "fileaccess/declarations.h"
#include "fileaccess/error_state.h"
#include "fileaccess/field_desc.h"
#include "fileaccess/string_stack.h"
#include "qbx/driver/driver_entry.h"

namespace qbx::driver::testing {

inline constexpr std::uint32_t kNameOffset = 0;
inline constexpr std::uint32_t kNameSize = 20;
inline constexpr std::uint32_t kNumberOffset = 20;
inline constexpr std::uint32_t kCodeOffset = 24;
inline constexpr std::uint32_t kCodeSize = 4;
inline constexpr std::uint32_t kRecordLength = 28;
inline constexpr std::size_t kNameVariableLength = 260;

// Access modes.
inline constexpr std::int32_t kReadWriteDenyWrite = 0x22;
inline constexpr std::int32_t kReadWriteDenyNone = 0x42;
inline constexpr std::int32_t kReadOnlyDenyNone = 0x40;

inline std::vector<std::uint8_t> testStream() {
  fileaccess::FieldDescWriter w;
  w.group("")
      .string("T:NAME", kNameSize)
      .longField("T:NUMBER")
      .string("T:CODE", kCodeSize)
      .endGroup();
  return w.finish().value_or(std::vector<std::uint8_t>{});
}

class TestFile {
 public:
  explicit TestFile(std::uint8_t attributes = fileaccess::kAttrCreate)
      : stream_(testStream()), record_(kRecordLength, ' ') {
    nameVariable_.fill(' ');
    block_.driverEntry = &DriverEntry;
    block_.name = nameVariable_.data();
    block_.nameLength = static_cast<std::int32_t>(kNameVariableLength);
    block_.attributes = attributes;
    block_.recordLength = kRecordLength;
    block_.recordDesc = stream_.data();
    block_.recordBuffer = record_.data();

    addKey(nameKey_, "T:NAMEKEY", 0, {1});
    addKey(codeKey_, "T:CODEKEY", fileaccess::kKeyDup, {3});
    addKey(dynamicIndex_, "T:DYNAMIC", fileaccess::kKeyIndex, {});
    keys_ = {&nameKey_, &codeKey_, &dynamicIndex_};
    block_.keyTable = keys_.data();
    block_.keyCount = static_cast<std::uint8_t>(keys_.size());
  }
  TestFile(const TestFile&) = delete;
  TestFile& operator=(const TestFile&) = delete;
  // Whatever a test leaves open is closed, so that no state outlives it.
  ~TestFile() {
    if (block_.driverState != nullptr) {
      static_cast<void>(fileaccess::Call(fileaccess::DriverOp::kClose, block_));
    }
    block_.driverState = nullptr;
  }

  // Sets the name variable (space padded to 260 characters).
  void setName(const std::string& name) {
    nameVariable_.fill(' ');
    std::copy_n(name.begin(), std::min(name.size(), kNameVariableLength), nameVariable_.begin());
  }

  template <typename... Args>
  int call(fileaccess::DriverOp op, Args... args) {
    return fileaccess::Call(op, block_, args...);
  }
  // A call with text A on the string stack (and B beneath it when given).
  template <typename... Args>
  int callWithText(fileaccess::DriverOp op, const std::string& a, Args... args) {
    fileaccess::stringStack().push(a);
    return fileaccess::Call(op, block_, args...);
  }
  int callWithTexts(fileaccess::DriverOp op, const std::string& a, const std::string& b) {
    fileaccess::stringStack().push(b);
    fileaccess::stringStack().push(a);
    return fileaccess::Call(op, block_);
  }
  // The text a call left on the stack.
  static std::string popText() {
    auto text = fileaccess::stringStack().pop();
    EXPECT_TRUE(text.has_value()) << "no text result on the stack";
    return text.value_or(std::string());
  }

  // Record fields.
  void setFields(const std::string& name, std::int32_t number, const std::string& code) {
    std::fill(record_.begin(), record_.end(), ' ');
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), kNameSize),
                record_.begin() + kNameOffset);
    std::memcpy(record_.data() + kNumberOffset, &number, sizeof number);
    std::copy_n(code.begin(), std::min<std::size_t>(code.size(), kCodeSize),
                record_.begin() + kCodeOffset);
  }
  std::string name() const {
    std::string s(record_.begin() + kNameOffset, record_.begin() + kNameOffset + kNameSize);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  std::int32_t number() const {
    std::int32_t n = 0;
    std::memcpy(&n, record_.data() + kNumberOffset, sizeof n);
    return n;
  }

  fileaccess::FileBlock& block() { return block_; }
  fileaccess::KeyDesc* nameKey() { return &nameKey_; }
  fileaccess::KeyDesc* codeKey() { return &codeKey_; }
  fileaccess::KeyDesc* dynamicIndex() { return &dynamicIndex_; }
  std::vector<std::uint8_t>& record() { return record_; }
  bool attached() const { return block_.driverState != nullptr; }

 private:
  void addKey(fileaccess::KeyDesc& key, const char* label, std::uint32_t flags,
              std::vector<std::int32_t> components) {
    key.label = label;
    key.labelLength = fileaccess::kTextZeroTerminated;
    key.keyFlags = flags;
    auto& c = components_.emplace_back(std::move(components));
    key.componentCount = static_cast<std::uint8_t>(c.size());
    key.components = c.empty() ? nullptr : c.data();
    key.declaringFile = &block_;
  }

  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> record_;
  std::array<char, kNameVariableLength> nameVariable_{};
  fileaccess::FileBlock block_;
  fileaccess::KeyDesc nameKey_;
  fileaccess::KeyDesc codeKey_;
  fileaccess::KeyDesc dynamicIndex_;
  std::vector<fileaccess::KeyDesc*> keys_;
  std::deque<std::vector<std::int32_t>> components_;
};

// Runs a test body in a current directory of its own and changes back.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& dir) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) != nullptr) saved_ = buffer;
    EXPECT_EQ(::chdir(dir.c_str()), 0);
  }
  ~CurrentDirectory() {
    if (!saved_.empty()) static_cast<void>(::chdir(saved_.c_str()));
  }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::string saved_;
};

}  // namespace qbx::driver::testing
