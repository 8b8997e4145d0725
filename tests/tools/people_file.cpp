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

int writePeople(const std::string& name, const std::vector<Person>& people) {
  const std::vector<std::uint8_t> stream = peopleStream();
  std::vector<std::uint8_t> record(kPersonLength, ' ');
  std::vector<char> nameVariable(name.begin(), name.end());
  const std::int32_t nameComponent[] = {1};
  const std::int32_t cityComponents[] = {2, 1};
  const std::int32_t valueComponent[] = {-3};
  fileaccess::KeyDesc keys[3];
  const char* labels[] = {"P:NAMEKEY", "P:CITYKEY", "P:VALUEKEY"};
  const std::uint32_t flags[] = {
      0, fileaccess::kKeyDup | fileaccess::kKeyOpt | fileaccess::kKeyNocase, fileaccess::kKeyDup};
  const std::int32_t* components[] = {nameComponent, cityComponents, valueComponent};
  const std::uint8_t counts[] = {1, 2, 1};
  fileaccess::FileBlock block;
  fileaccess::KeyDesc* keyTable[3];
  for (std::size_t i = 0; i < 3; ++i) {
    keys[i].label = labels[i];
    keys[i].labelLength = fileaccess::kTextZeroTerminated;
    keys[i].keyFlags = flags[i];
    keys[i].componentCount = counts[i];
    keys[i].components = components[i];
    keys[i].declaringFile = &block;
    keyTable[i] = &keys[i];
  }
  block.driverEntry = &driver::DriverEntry;
  block.name = nameVariable.data();
  block.nameLength = static_cast<std::int32_t>(nameVariable.size());
  block.attributes = fileaccess::kAttrCreate;
  block.recordLength = kPersonLength;
  block.recordDesc = stream.data();
  block.recordBuffer = record.data();
  block.keyTable = keyTable;
  block.keyCount = 3;

  fileaccess::clearError();
  auto failed = [] { return fileaccess::ERRORCODE() != 0; };
  static_cast<void>(Call(DriverOp::kCreate, block));
  if (failed()) return fileaccess::ERRORCODE();
  static_cast<void>(Call(DriverOp::kOpen, block, std::int32_t{0x22}));
  if (failed()) return fileaccess::ERRORCODE();
  int result = 0;
  for (const Person& p : people) {
    const std::vector<std::uint8_t> r = image(p);
    std::copy(r.begin(), r.end(), record.begin());
    static_cast<void>(Call(DriverOp::kAdd, block));
    if (failed()) {
      result = fileaccess::ERRORCODE();
      break;
    }
  }
  if (result != 0) {
    fileaccess::ErrorStateGuard keep;
    static_cast<void>(Call(DriverOp::kClose, block));
    return result;
  }
  static_cast<void>(Call(DriverOp::kClose, block));
  return fileaccess::ERRORCODE();
}

}  // namespace qbx::inspector::testing
