// A table's records read through the driver: a FileBlock without a record
// declaration (so that OPEN takes the stored definition) and with a key
// descriptor for every key a table can have (so that OPEN links the stored
// keys to them and SET can name them).
#include "qbx/record_reader.h"

#include <charconv>
#include <string>
#include <vector>

#include "database_impl.h"
#include "fileaccess/call.h"
#include "fileaccess/error_state.h"
#include "qbx/detail/definition_view.h"
#include "qbx/detail/table_catalogue.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/driver/file_names.h"
#include "qbx/driver/qbx_file.h"
#include "qbx/records/format.h"
#include "qbx/store/store.h"

namespace qbx {

using fileaccess::Call;
using fileaccess::DriverOp;

struct RecordReader::Impl {
  std::string name;
  std::string owner;
  std::vector<fileaccess::KeyDesc> keys{records::kMaxKeyCount};
  std::vector<fileaccess::KeyDesc*> keyTable;
  fileaccess::FileBlock block;
  TableDefinition definition;
  std::span<const std::uint8_t> record;
  std::uint32_t recordNumber = 0;
  int internalError = 0;
  bool open = false;

  Impl(std::string fullName, std::string password)
      : name(std::move(fullName)), owner(std::move(password)) {
    for (fileaccess::KeyDesc& k : keys) keyTable.push_back(&k);
    block.driverEntry = &driver::DriverEntry;
    block.name = name.data();
    block.nameLength = static_cast<std::int32_t>(name.size());
    if (!owner.empty()) {
      block.owner = owner.data();
      block.ownerLength = static_cast<std::int32_t>(owner.size());
      block.attributes = fileaccess::kAttrEncrypt;
    }
    block.keyCount = static_cast<std::uint8_t>(keys.size());
    block.keyTable = keyTable.data();
  }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // The error the last call posted (0: none), with the internal error
  // number of a 90.
  int posted() {
    const int code = fileaccess::ERRORCODE();
    internalError = 0;
    if (code == kErrFileSystemError) {
      const std::string_view text = fileaccess::driverErrorCode();
      std::from_chars(text.data(), text.data() + text.size(), internalError);
    }
    return code;
  }
};

namespace {

// Closes the table. The driver keeps its state for a FileBlock (and the
// program's list of files in use names it) until an operation discards it;
// a FileBlock that is still attached after CLOSE (an OPEN that failed) is
// kept for the rest of the program, as a program's own declarations are.
void closeAndRelease(std::unique_ptr<RecordReader::Impl> impl) {
  if (!impl || impl->block.driverState == nullptr) return;
  {
    fileaccess::ErrorStateGuard keep;
    static_cast<void>(Call(DriverOp::kClose, impl->block));
  }
  if (impl->block.driverState == nullptr) return;
  static auto* retired = new std::vector<std::unique_ptr<RecordReader::Impl>>();
  retired->push_back(std::move(impl));
}

}  // namespace

RecordReader::RecordReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RecordReader::~RecordReader() { closeAndRelease(std::move(impl_)); }

const TableDefinition& RecordReader::definition() const { return impl_->definition; }
std::uint32_t RecordReader::recordNumber() const { return impl_->recordNumber; }
std::span<const std::uint8_t> RecordReader::record() const { return impl_->record; }
int RecordReader::internalError() const { return impl_->internalError; }

int RecordReader::startFileOrder() {
  fileaccess::clearError();
  static_cast<void>(Call(DriverOp::kSetFile, impl_->block));
  return impl_->posted();
}

int RecordReader::startKeyOrder(std::size_t key) {
  if (key >= impl_->definition.keys.size()) return kErrRecordNotAvailable;
  fileaccess::clearError();
  static_cast<void>(Call(DriverOp::kSetKey, impl_->block, &impl_->keys[key]));
  return impl_->posted();
}

int RecordReader::next() {
  fileaccess::clearError();
  if (!impl_->definition.memos.empty()) static_cast<void>(Call(DriverOp::kNoMemo, impl_->block));
  static_cast<void>(Call(DriverOp::kNext, impl_->block));
  if (const int result = impl_->posted(); result != 0) return result;
  impl_->recordNumber = static_cast<std::uint32_t>(Call(DriverOp::kPointerFile, impl_->block));
  return impl_->posted();
}

int Database::openReader(std::string_view table, std::unique_ptr<RecordReader>* out) {
  out->reset();
  if (!isOpen()) return kErrFileNotOpen;
  const std::string stored = detail::storedTableName(table);
  auto impl = std::make_unique<RecordReader::Impl>(driver::tableFullName(impl_->fullName, stored),
                                                   impl_->password);
  fileaccess::clearError();
  static_cast<void>(Call(DriverOp::kOpen, impl->block, std::int32_t{store::kOpenDenyNone}));
  if (const int result = impl->posted(); result != 0) {
    impl_->internalError = impl->internalError;
    closeAndRelease(std::move(impl));
    return result;
  }
  const auto* file = static_cast<const driver::QbxFile*>(impl->block.driverState);
  if (file == nullptr || !file->def || file->def->recordBuffer == nullptr) {
    closeAndRelease(std::move(impl));
    return kErrInvalidRecordDeclaration;
  }
  impl->definition = detail::publicDefinition(*file->def);
  impl->record = {file->def->recordBuffer, file->def->recordLength};
  *out = std::make_unique<RecordReader>(std::move(impl));
  return 0;
}

}  // namespace qbx
