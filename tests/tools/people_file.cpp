#include "people_file.h"

#include <algorithm>
#include <cstring>

#include "fileaccess/call.h"
#include "fileaccess/declarations.h"
#include "fileaccess/error_state.h"
#include "fileaccess/field_desc.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"
#include "qbx/driver/driver_entry.h"
#include "qbx/driver/file_names.h"
#include "qbx/records/qbx_table.h"
#include "qbx/records/table_def_builder.h"
#include "qbx/store/store.h"

namespace qbx::inspector::testing {
namespace {

using fileaccess::Call;
using fileaccess::DriverOp;

std::vector<std::uint8_t> peopleStream() {
  fileaccess::FieldDescWriter w;
  fileaccess::FieldOptions dims;
  dims.dimensions = {3};
  w.group("")
      .string("P:NAME", 20)
      .string("P:CITY", 12)
      .decimal("P:VALUE", 4, 2)
      .group("P:BORN")
      .shortField("P:YEAR")
      .byteField("P:DAY")
      .byteField("P:MONTH")
      .endGroup()
      .longField("P:SCORES", dims)
      .cstring("P:NOTE", 10)
      .pstring("P:TAG", 6)
      .realField("P:RATIO")
      .endGroup();
  return w.finish().value_or(std::vector<std::uint8_t>{});
}

void put(std::vector<std::uint8_t>& r, std::size_t at, std::size_t size, const std::string& text) {
  std::copy_n(text.begin(), std::min(size, text.size()), r.begin() + static_cast<long>(at));
}

std::vector<std::uint8_t> image(const Person& p) {
  std::vector<std::uint8_t> r(kPersonLength, 0);
  std::fill_n(r.begin(), 32, ' ');
  put(r, 0, 20, p.name);
  put(r, 20, 12, p.city);
  static_cast<void>(fileaccess::storeDecimal(std::span(r).subspan(32, 4), p.value, 2));
  platform::storeLe16(r, 36, static_cast<std::uint16_t>(p.year));
  r[38] = p.day;
  r[39] = p.month;
  for (std::size_t i = 0; i < 3; ++i) {
    platform::storeLe32(r, 40 + 4 * i, static_cast<std::uint32_t>(p.scores[i]));
  }
  put(r, 52, 9, p.note);
  r[62] = static_cast<std::uint8_t>(std::min<std::size_t>(p.tag.size(), 5));
  put(r, 63, 5, p.tag);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &p.ratio, sizeof bits);
  platform::storeLe64(r, 68, bits);
  return r;
}

}  // namespace

std::vector<Person> samplePeople() {
  return {
      {"Ada Lovelace", "London", 1234, 1815, 10, 12, {3, 1, 4}, "math", "A1", 0.5},
      {"Smith, John", "paris", -5, 1970, 1, 1, {-1, 0, 1}, "a\"q", "x", -2.25},
      {"Zoe", "", 0, 2001, 31, 12, {0, 0, 0}, "", "", 0},
      {"Bob", "London", 99999, 1950, 5, 6, {100, 200, 300}, "nine char", "TAGGY", 1e10},
      {"Carl", "Berlin", 42, 1988, 2, 3, {7, 8, 9}, "n", "t", 3.0},
  };
}

namespace {

// The declaration of the people table and the calls on it.
class PeopleTable {
 public:
  explicit PeopleTable(const std::string& name, const std::string& password = {})
      : stream_(peopleStream()),
        record_(kPersonLength, ' '),
        name_(name.begin(), name.end()),
        owner_(password) {
    const std::uint32_t flags[] = {
        0, fileaccess::kKeyDup | fileaccess::kKeyOpt | fileaccess::kKeyNocase, fileaccess::kKeyDup};
    const char* labels[] = {"P:NAMEKEY", "P:CITYKEY", "P:VALUEKEY"};
    const std::uint8_t counts[] = {1, 2, 1};
    for (std::size_t i = 0; i < 3; ++i) {
      keys_[i].label = labels[i];
      keys_[i].labelLength = fileaccess::kTextZeroTerminated;
      keys_[i].keyFlags = flags[i];
      keys_[i].componentCount = counts[i];
      keys_[i].components = components_[i].data();
      keys_[i].declaringFile = &block_;
      keyTable_[i] = &keys_[i];
    }
    block_.driverEntry = &driver::DriverEntry;
    block_.name = name_.data();
    block_.nameLength = static_cast<std::int32_t>(name_.size());
    block_.attributes = fileaccess::kAttrCreate;
    if (!owner_.empty()) {
      block_.owner = owner_.data();
      block_.ownerLength = static_cast<std::int32_t>(owner_.size());
      block_.attributes |= fileaccess::kAttrEncrypt;
    }
    block_.recordLength = kPersonLength;
    block_.recordDesc = stream_.data();
    block_.recordBuffer = record_.data();
    block_.keyTable = keyTable_;
    block_.keyCount = 3;
  }
  PeopleTable(const PeopleTable&) = delete;
  PeopleTable& operator=(const PeopleTable&) = delete;

  // The operation's posted error (0: none).
  template <typename... Args>
  int call(DriverOp op, Args... args) {
    fileaccess::clearError();
    static_cast<void>(Call(op, block_, args...));
    return fileaccess::ERRORCODE();
  }
  int add(const std::vector<Person>& people) {
    for (const Person& p : people) {
      const std::vector<std::uint8_t> r = image(p);
      std::copy(r.begin(), r.end(), record_.begin());
      if (const int result = call(DriverOp::kAdd); result != 0) return result;
    }
    return 0;
  }
  // Closes after an error, keeping the error.
  void closeQuietly() {
    fileaccess::ErrorStateGuard keep;
    static_cast<void>(Call(DriverOp::kClose, block_));
  }
  fileaccess::FileBlock& block() { return block_; }
  std::vector<std::uint8_t>& record() { return record_; }

 private:
  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> record_;
  std::vector<char> name_;
  std::string owner_;
  const std::array<std::vector<std::int32_t>, 3> components_ = {
      std::vector<std::int32_t>{1}, std::vector<std::int32_t>{2, 1}, std::vector<std::int32_t>{-3}};
  fileaccess::FileBlock block_;
  fileaccess::KeyDesc keys_[3];
  fileaccess::KeyDesc* keyTable_[3] = {};
};

}  // namespace

int writePeople(const std::string& name, const std::vector<Person>& people,
                const std::string& password) {
  PeopleTable table(name, password);
  if (const int result = table.call(DriverOp::kCreate); result != 0) return result;
  if (const int result = table.call(DriverOp::kOpen, std::int32_t{0x22}); result != 0) {
    return result;
  }
  if (const int result = table.add(people); result != 0) {
    table.closeQuietly();
    return result;
  }
  return table.call(DriverOp::kClose);
}

int addPeopleWithoutFinishing(const std::string& name, const std::vector<Person>& people) {
  // The record engine under the driver, so that nothing commits after each
  // operation. Never destroyed: closing would finish the commit.
  PeopleTable& declaration = *new PeopleTable(name);
  auto* def = new std::unique_ptr<records::QbxTableDef>;
  if (const int result = records::buildTableDef(declaration.block(), *def); result != 0) {
    return result;
  }
  std::string full;
  if (const int result = driver::formFullName(name, driver::kDefaultExtension, &full);
      result != 0) {
    return result;
  }
  auto* table = new std::unique_ptr<records::QbxTable>;
  if (const int result = records::QbxTable::open(**def, full, "UNNAMED", 0x22, {}, table);
      result != 0) {
    return result;
  }
  for (const Person& p : people) {
    const std::vector<std::uint8_t> r = image(p);
    std::copy(r.begin(), r.end(), declaration.record().begin());
    if (const int result = (*table)->add(false); result != 0) return result;
  }
  return (*table)->store().prepare();
}

}  // namespace qbx::inspector::testing
