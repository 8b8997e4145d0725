#include "qbx/database.h"

#include "database_impl.h"
#include "fileaccess/error_state.h"
#include "platform/endian.h"
#include "qbx/detail/definition_view.h"
#include "qbx/detail/store_reading.h"
#include "qbx/detail/table_catalogue.h"
#include "qbx/driver/declaration_dump.h"
#include "qbx/driver/file_names.h"
#include "qbx/records/format.h"
#include "qbx/store/format.h"
#include "qbx/store/store.h"

namespace qbx {

std::string errorText(int code) { return fileaccess::errorText(code); }

Database::Database() : impl_(std::make_unique<Impl>()) {}
Database::~Database() { close(); }

int Database::open(const std::string& path, std::string_view password) {
  close();
  std::string full;
  if (const int result = driver::formFullName(path, driver::kDefaultExtension, &full);
      result != 0) {
    return result;
  }
  records::StoreUse use;
  const unsigned mode = store::kOpenDenyNone;  // read only, others free
  int result = 0;
  try {
    result = records::acquireStore(full, mode, password, &use);
  } catch (const store::InternalError& error) {
    impl_->internalError = error.number;
    return kErrFileSystemError;
  }
  if (result != 0) return result;
  // The open leaves the first access running; a reader ends it at once so
  // that writers elsewhere never wait for this program between calls.
  detail::endReadAccess(*use);
  impl_->fullName = std::move(full);
  impl_->password = std::string(password);
  impl_->store = std::move(use);
  impl_->internalError = 0;
  return 0;
}

void Database::close() {
  if (!impl_) return;
  impl_->store.release();
  impl_->fullName.clear();
  impl_->password.clear();
}

bool Database::isOpen() const { return static_cast<bool>(impl_->store); }

const std::string& Database::fullName() const { return impl_->fullName; }

int Database::internalError() const { return impl_->internalError; }

int Database::fileInfo(FileInfo* out) {
  if (!isOpen()) return kErrFileNotOpen;
  store::QbxStore& s = *impl_->store;
  return detail::readInStore(s, &impl_->internalError, [&] {
    FileInfo info;
    const store::FileHeader& h = s.header();
    std::uint64_t length = 0;
    if (s.diskFile().hasHandle()) static_cast<void>(s.diskFile().file().size(&length));
    info.length = length;
    info.logicalEnd = h.logicalEnd();
    info.logStart = h.logStart();
    info.logEnd = h.logEnd();
    if (!s.cache().logMap().empty()) {
      info.pendingLog = PendingLog::kReadThrough;
    } else if (h.logStart() != h.logEnd()) {
      info.pendingLog = PendingLog::kIgnored;
    }
    info.changeCount = h.changeCount();
    info.recordCounter = platform::loadBe32(h.recordCounter(), 0);
    info.rootPage = h.rootPage();
    for (int c = 1; c <= kMaxSizeClass; ++c) {
      const std::uint32_t start = h.regionStart(c);
      const std::uint32_t end = h.regionEnd(c);
      const std::uint32_t span = end > start ? end - start : 0;
      info.pagesPerClass[static_cast<std::size_t>(c)] = span / static_cast<std::uint32_t>(c);
      info.pages += span / static_cast<std::uint32_t>(c);
    }
    *out = info;
    // The header is complete without the tree: its depth comes last, so
    // that a damaged root page still leaves the rest to report.
    out->treeDepth = detail::treeDepth(s);
    return 0;
  });
}

int Database::tables(std::vector<TableInfo>* out) {
  out->clear();
  if (!isOpen()) return kErrFileNotOpen;
  store::QbxStore& s = *impl_->store;
  return detail::readInStore(s, &impl_->internalError, [&] {
    if (!detail::hasTree(s.header())) return 0;
    for (const detail::TableNameRecord& r : detail::listTableNames(s)) {
      TableInfo info;
      info.name = r.name;
      if (!r.number) {
        info.definitionError = kErrInvalidDataFile;
        out->push_back(std::move(info));
        continue;
      }
      info.number = *r.number;
      if (const auto status = detail::readStatus(s, info.number, records::kStatusTableSelector)) {
        info.hasStatus = true;
        info.records = status->counter1;
      }
      records::QbxTableDef def;
      info.definitionError = detail::loadDefinition(s, info.number, def);
      if (info.definitionError == 0) {
        info.recordLength = def.recordLength;
        info.keys = static_cast<std::uint32_t>(def.keys.size());
        info.memos = static_cast<std::uint32_t>(def.memos.size());
      }
      out->push_back(std::move(info));
    }
    return 0;
  });
}

int Database::defaultTable(std::string* out) {
  out->clear();
  std::vector<TableInfo> all;
  if (const int result = tables(&all); result != 0) return result;
  if (all.size() == 1) {
    *out = all.front().name;
    return 0;
  }
  for (const TableInfo& t : all) {
    if (t.name == driver::kDefaultTableName) *out = t.name;
  }
  return 0;
}

namespace {

// Reads the named table's definition: 0, 2 no such table, 47.
int readTableDef(store::QbxStore& s, std::string_view table, records::QbxTableDef& def) {
  if (!detail::hasTree(s.header())) return kErrFileNotFound;
  const auto number = detail::findTable(s, table);
  if (!number) return kErrFileNotFound;
  return detail::loadDefinition(s, *number, def);
}

}  // namespace

int Database::definition(std::string_view table, TableDefinition* out) {
  if (!isOpen()) return kErrFileNotOpen;
  store::QbxStore& s = *impl_->store;
  return detail::readInStore(s, &impl_->internalError, [&] {
    records::QbxTableDef def;
    if (const int result = readTableDef(s, table, def); result != 0) return result;
    *out = detail::publicDefinition(def);
    return 0;
  });
}

int Database::declaration(std::string_view table, std::string* out) {
  if (!isOpen()) return kErrFileNotOpen;
  store::QbxStore& s = *impl_->store;
  return detail::readInStore(s, &impl_->internalError, [&] {
    records::QbxTableDef def;
    if (const int result = readTableDef(s, table, def); result != 0) return result;
    const std::string stored = detail::storedTableName(table);
    def.name = driver::tableFullName(impl_->fullName, stored);
    if (!impl_->password.empty()) {
      def.owner = impl_->password;
      def.attributes = static_cast<std::uint8_t>(def.attributes | records::kTableEncrypt);
    }
    const std::string dump = driver::declarationDump(def, stored);
    // The dump's lines end in CR LF; here they end as text lines do.
    out->clear();
    out->reserve(dump.size());
    for (char c : dump) {
      if (c != '\r') out->push_back(c);
    }
    return 0;
  });
}

}  // namespace qbx
