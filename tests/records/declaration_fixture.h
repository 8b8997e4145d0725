// A declared file for the record layer's tests: a FieldDesc stream written
// with the layout writer, keys and memos as a program declares them, and the
// FileBlock that ties them together.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fileaccess/declarations.h"
#include "fileaccess/field_desc.h"
#include "qbx/records/table_def_builder.h"

namespace qbx::records::testing {

class Declaration {
 public:
  explicit Declaration(std::vector<std::uint8_t> stream, std::uint32_t recordLength)
      : stream_(std::move(stream)), record_(recordLength, 0) {
    block_.name = "TEST";
    block_.nameLength = fileaccess::kTextZeroTerminated;
    block_.recordLength = recordLength;
    block_.recordDesc = stream_.empty() ? nullptr : stream_.data();
    block_.recordBuffer = record_.data();
  }

  // From a writer whose groups are all closed.
  static Declaration of(const fileaccess::FieldDescWriter& writer, std::uint32_t recordLength) {
    auto stream = writer.finish();
    EXPECT_TRUE(stream.has_value());
    return Declaration(stream.value_or(std::vector<std::uint8_t>{}), recordLength);
  }

  Declaration(Declaration&&) = default;

  Declaration& key(std::vector<std::int32_t> components, std::uint32_t flags = 0,
                   std::string label = "T:KEY", const char* nameAttribute = nullptr) {
    auto& k = keys_.emplace_back();
    auto& c = components_.emplace_back(std::move(components));
    auto& l = texts_.emplace_back(std::move(label));
    k.label = l.c_str();
    k.labelLength = fileaccess::kTextZeroTerminated;
    if (nameAttribute != nullptr) {
      k.externalName = texts_.emplace_back(nameAttribute).c_str();
      k.externalNameLength = fileaccess::kTextZeroTerminated;
    }
    k.keyFlags = flags;
    k.componentCount = static_cast<std::uint8_t>(c.size());
    k.components = c.empty() ? nullptr : c.data();
    return *this;
  }

  Declaration& memo(std::uint32_t size, std::uint8_t flags = 0, std::string label = "T:MEMO") {
    auto& m = memos_.emplace_back();
    auto& l = texts_.emplace_back(std::move(label));
    m.label = l.c_str();
    m.labelLength = fileaccess::kTextZeroTerminated;
    m.memoSize = size;
    m.memoFlags = flags;
    return *this;
  }

  // The FileBlock with its key and memo tables pointing at the declared ones.
  fileaccess::FileBlock& block() {
    keyPtrs_.clear();
    for (auto& k : keys_) keyPtrs_.push_back(&k);
    memoPtrs_.clear();
    for (auto& m : memos_) memoPtrs_.push_back(&m);
    block_.keyCount = static_cast<std::uint8_t>(keyPtrs_.size());
    block_.memoCount = static_cast<std::uint8_t>(memoPtrs_.size());
    block_.keyTable = keyPtrs_.empty() ? nullptr : keyPtrs_.data();
    block_.memoTable = memoPtrs_.empty() ? nullptr : memoPtrs_.data();
    for (auto& k : keys_) k.declaringFile = &block_;
    return block_;
  }

  // Builds the definition; fails the test when the build fails.
  std::unique_ptr<QbxTableDef> build() {
    std::unique_ptr<QbxTableDef> def;
    const int rc = buildTableDef(block(), def);
    EXPECT_EQ(rc, 0);
    return def;
  }

  int buildError() {
    std::unique_ptr<QbxTableDef> def;
    return buildTableDef(block(), def);
  }

  std::vector<std::uint8_t>& record() { return record_; }
  std::deque<fileaccess::KeyDesc>& keys() { return keys_; }
  std::deque<fileaccess::MemoDesc>& memos() { return memos_; }

 private:
  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> record_;
  fileaccess::FileBlock block_;
  std::deque<fileaccess::KeyDesc> keys_;
  std::deque<fileaccess::MemoDesc> memos_;
  std::deque<std::vector<std::int32_t>> components_;
  std::deque<std::string> texts_;
  std::vector<fileaccess::KeyDesc*> keyPtrs_;
  std::vector<fileaccess::MemoDesc*> memoPtrs_;
};

}  // namespace qbx::records::testing
