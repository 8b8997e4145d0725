// Text forms of the trace log: the line of one call, the value of a field,
// the record dump with its memo hex dumps, and the key values.
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <thread>

#include "fileaccess/driver_op.h"
#include "fileaccess/error_state.h"
#include "fileaccess/field_format.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"
#include "qbx/driver/declaration_dump.h"
#include "qbx/driver/trace_log.h"
#include "qbx/records/format.h"
#include "qbx/records/string_fields.h"

namespace qbx::driver {
namespace {

using records::QbxFieldDef;
using records::QbxTableDef;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kCallColumn = 18;
constexpr std::size_t kValueNameColumn = 18;
constexpr std::size_t kMemoLabelColumn = 18;
constexpr std::size_t kHexBytesPerLine = 16;

// The program's first thread: static initialisation runs on it.
const std::thread::id kFirstThread = std::this_thread::get_id();
std::atomic<int> gNextThreadNumber{2};

int currentThreadNumber() {
  if (std::this_thread::get_id() == kFirstThread) return 1;
  thread_local const int number = gNextThreadNumber.fetch_add(1, std::memory_order_relaxed);
  return number;
}

std::string_view textOf(const records::OptText& text) {
  return text ? std::string_view(*text) : std::string_view();
}

std::string_view fieldName(const QbxFieldDef& f) {
  return f.name ? std::string_view(*f.name) : textOf(f.label);
}

// Appends text padded with blanks to at least width characters, cut at
// kMaxPaddedText characters.
void appendLeft(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() > kMaxPaddedText) text = text.substr(0, kMaxPaddedText);
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

template <class... Args>
void appendFormat(std::string& out, const char* format, Args... args) {
  std::array<char, 128> buffer;
  const int n = std::snprintf(buffer.data(), buffer.size(), format, args...);
  if (n > 0)
    out.append(buffer.data(),
               std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size() - 1));
}

void appendNumber(std::string& out, double value) {
  std::array<char, 64> buffer;
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (ec == std::errc()) out.append(buffer.data(), end);
}

// Microsoft binary format reals: exponent in the last byte (bias 129 for the
// form 1.m), sign in the top bit of the byte below it, then the mantissa.
double binaryFloat(std::span<const std::uint8_t> b) {
  const std::size_t n = b.size();
  const int exponent = b[n - 1];
  if (exponent == 0) return 0.0;
  std::uint64_t mantissa = b[n - 2] & 0x7Fu;
  for (std::size_t i = n - 2; i-- > 0;) mantissa = (mantissa << 8) | b[i];
  const int bits = static_cast<int>(8 * (n - 1) - 1);
  const double value =
      std::ldexp(1.0 + std::ldexp(static_cast<double>(mantissa), -bits), exponent - 129);
  return (b[n - 2] & 0x80u) != 0 ? -value : value;
}

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void appendDate(std::string& out, std::span<const std::uint8_t> b) {
  const long stored = static_cast<std::int32_t>(platform::loadLe32(b, 0));
  const int day = b[0];
  const int month = b[1];
  const int year = platform::loadLe16(b, 2);
  if (day < 1 || day > 31 || month < 1 || month > 12) {
    appendFormat(out, "Invalid date (%ld)", stored);
  } else {
    appendFormat(out, "%02d %s %d (%ld)", day, kMonths[static_cast<std::size_t>(month - 1)], year,
                 stored);
  }
}

void appendTime(std::string& out, std::span<const std::uint8_t> b) {
  const long stored = static_cast<std::int32_t>(platform::loadLe32(b, 0));
  const int hundredths = b[0];
  const int seconds = b[1];
  const int minutes = b[2];
  const int hours = b[3];
  if (hours > 23 || minutes > 59 || seconds > 59) {
    appendFormat(out, "Invalid time (%ld)", stored);
  } else {
    appendFormat(out, "%02d:%02d:%02d.%02d (%ld)", hours, minutes, seconds, hundredths, stored);
  }
}

void appendQuoted(std::string& out, std::span<const std::uint8_t> text) {
  out += '\'';
  out.append(reinterpret_cast<const char*>(text.data()), text.size());
  out += '\'';
}

// Writes the value of one element; e holds exactly the element's bytes.
void appendValue(std::string& out, const QbxFieldDef& f, std::span<const std::uint8_t> e) {
  const std::size_t need = fileaccess::fixedTypeSize(f.type);
  if (e.size() < need) return;
  switch (f.type) {
    case fileaccess::kTypeByte:
      appendFormat(out, "%02XH", static_cast<unsigned>(e[0]));
      break;
    case fileaccess::kTypeShort:
      appendFormat(out, "%d",
                   static_cast<int>(static_cast<std::int16_t>(platform::loadLe16(e, 0))));
      break;
    case fileaccess::kTypeUshort:
      appendFormat(out, "%u", static_cast<unsigned>(platform::loadLe16(e, 0)));
      break;
    case fileaccess::kTypeDate:
      appendDate(out, e);
      break;
    case fileaccess::kTypeTime:
      appendTime(out, e);
      break;
    case fileaccess::kTypeLong:
      appendFormat(out, "%ld",
                   static_cast<long>(static_cast<std::int32_t>(platform::loadLe32(e, 0))));
      break;
    case fileaccess::kTypeUlong:
      appendFormat(out, "%lu", static_cast<unsigned long>(platform::loadLe32(e, 0)));
      break;
    case fileaccess::kTypeSreal: {
      // "%f" of the largest float takes 46 characters: the buffer holds it.
      appendFormat(out, "%f", static_cast<double>(std::bit_cast<float>(platform::loadLe32(e, 0))));
      break;
    }
    case fileaccess::kTypeReal:
      appendNumber(out, std::bit_cast<double>(platform::loadLe64(e, 0)));
      break;
    case fileaccess::kTypeBfloat4:
    case fileaccess::kTypeBfloat8:
      appendNumber(out, binaryFloat(e.first(need)));
      break;
    case fileaccess::kTypeDecimal:
    case fileaccess::kTypePdecimal:
      if (!e.empty()) out += fileaccess::decimalText(e, f.places);
      break;
    case fileaccess::kTypeString:
      appendQuoted(out, e);
      break;
    case fileaccess::kTypeCstring:
      appendQuoted(out, e.first(records::cstringLength(e)));
      break;
    case fileaccess::kTypePstring:
      appendQuoted(out, e.subspan(e.empty() ? 0 : 1, records::pstringLength(e)));
      break;
    case fileaccess::kTypeGroup:
      appendQuoted(out, e);
      break;
    default:
      break;  // carried types without a value form
  }
}

// "  name              : value" (a GROUP: an empty line).
void appendFieldLine(std::string& out, const QbxFieldDef& f, std::span<const std::uint8_t> record) {
  if (f.type != fileaccess::kTypeGroup) {
    out += "  ";
    appendLeft(out, fieldName(f), kValueNameColumn);
    out += ": ";
    out += fieldValueText(f, record);
  }
  out += kCrLf;
}

void appendHexDump(std::string& out, std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t at = 0; at < bytes.size(); at += kHexBytesPerLine) {
    const auto line = bytes.subspan(at, std::min(kHexBytesPerLine, bytes.size() - at));
    out += "  ";
    for (std::size_t i = 0; i < kHexBytesPerLine; ++i) {
      if (i < line.size()) {
        out += kHex[line[i] >> 4];
        out += kHex[line[i] & 0xF];
        out += ' ';
      } else {
        out += "   ";
      }
    }
    out += " | ";
    for (std::uint8_t c : line) out += (c < 32 || c > 126) ? '.' : static_cast<char>(c);
    out += kCrLf;
  }
}

std::span<const std::uint8_t> memoContents(const records::QbxMemoDef& memo, std::size_t index,
                                           std::span<const std::span<const std::uint8_t>> values) {
  std::span<const std::uint8_t> bytes;
  if (index < values.size()) {
    bytes = values[index];
  } else if (!memo.isBlob() && memo.buffer) {
    bytes = {reinterpret_cast<const std::uint8_t*>(memo.buffer.get()), memo.size};
  }
  // Up to the last byte that is not padding: zero bytes for BINARY, else blanks.
  const std::uint8_t pad = (memo.flags & records::kMemoBinary) != 0 ? 0 : ' ';
  std::size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == pad) --n;
  return bytes.first(n);
}

}  // namespace

std::string traceLineText(const TraceCall& call) {
  std::string text(fileaccess::driverOpName(call.code));
  text += '(';
  if (call.table != nullptr) text += call.table->name;
  if (call.key != nullptr) {
    text += ',';
    const std::string_view external = textOf(call.key->externalName);
    text += external.empty() ? textOf(call.key->label) : external;
    text += '[';
    text += std::to_string(call.key->keyNumber);
    text += ']';
  }
  text += ' ';
  text += std::to_string(call.threadNumber != 0 ? call.threadNumber : currentThreadNumber());
  text += ") ";

  std::string line;
  appendLeft(line, text, kCallColumn);
  if (call.result == fileaccess::kFileSystemError) {
    std::string_view driverText = call.driverErrorText;
    if (driverText.empty()) {
      driverText = fileaccess::driverErrorText();
      while (!driverText.empty() && driverText.back() == ' ') driverText.remove_suffix(1);
    }
    line += "File Error: ";
    line += driverText;
    line += ' ';
  } else if (call.result != 0) {
    line += "Error: ";
    line += fileaccess::errorText(call.result);
    line += ' ';
  }
  const std::int64_t elapsed = call.elapsed > 0 ? call.elapsed : 0;
  appendFormat(line, "Time Taken: %ld.%02ld secs", static_cast<long>(elapsed / 100),
               static_cast<long>(elapsed % 100));
  line += kCrLf;
  return line;
}

std::string fieldValueText(const QbxFieldDef& f, std::span<const std::uint8_t> record) {
  std::string out;
  const std::uint32_t count = f.elementCount == 0 ? 1 : f.elementCount;
  const std::uint64_t elementSize = f.totalSize / count;
  if (std::uint64_t{f.offset} + elementSize > record.size()) return out;
  appendValue(out, f, record.subspan(f.offset, static_cast<std::size_t>(elementSize)));
  return out;
}

std::string recordDumpText(const QbxTableDef& table, std::span<const std::uint8_t> record,
                           std::span<const std::span<const std::uint8_t>> memoValues) {
  std::string out;
  for (std::size_t i = 0; i < table.memos.size(); ++i) {
    const records::QbxMemoDef& memo = table.memos[i];
    appendColumn(out, textOf(memo.label), kMemoLabelColumn);
    out += kCrLf;
    const auto contents = memoContents(memo, i, memoValues);
    if (!contents.empty()) {
      appendHexDump(out, contents);
      out += kCrLf;
    }
  }
  for (const QbxFieldDef& f : table.fields) appendFieldLine(out, f, record);
  out += kCrLf;
  return out;
}

std::string keyValuesText(const QbxTableDef& table, const records::QbxKeyDef& key,
                          std::span<const std::uint8_t> record) {
  std::string out;
  for (const records::QbxKeyComponent& c : key.components) {
    if (c.field < table.fields.size()) appendFieldLine(out, table.fields[c.field], record);
  }
  out += kCrLf;
  return out;
}

}  // namespace qbx::driver
