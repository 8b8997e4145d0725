#include "fileaccess/field_desc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/endian.h"

namespace fileaccess {

// ---- compact numbers ------------------------------------------------------

std::size_t encodeCompact(std::int32_t value, std::span<std::uint8_t, 4> out) {
  const bool negative = value < 0;
  const std::uint32_t magnitude =
      negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  if (magnitude > kCompactMaxMagnitude) return 0;
  std::size_t following = 0;
  while (following < 3 && (magnitude >> (5 + 8 * following)) != 0) ++following;
  out[0] = static_cast<std::uint8_t>((magnitude >> (8 * following)) & kCompactTopMask);
  out[0] |= static_cast<std::uint8_t>(following << kCompactCountShift);
  if (negative) out[0] |= kCompactSignBit;
  for (std::size_t i = 1; i <= following; ++i) {
    out[i] = static_cast<std::uint8_t>(magnitude >> (8 * (following - i)));
  }
  return following + 1;
}

std::optional<CompactNumber> decodeCompact(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return std::nullopt;
  const std::uint8_t first = bytes[0];
  const std::size_t following = (first & kCompactCountMask) >> kCompactCountShift;
  if (bytes.size() < following + 1) return std::nullopt;
  std::uint32_t magnitude = first & kCompactTopMask;
  for (std::size_t i = 1; i <= following; ++i) magnitude = (magnitude << 8) | bytes[i];
  CompactNumber result;
  // The magnitude has at most 29 bits, so its negation fits an int32.
  result.value = static_cast<std::int32_t>(magnitude);
  if ((first & kCompactSignBit) != 0) result.value = -result.value;
  result.length = static_cast<std::uint8_t>(following + 1);
  return result;
}

// ---- writer ----------------------------------------------------------------

void FieldDescWriter::beginEntry(std::uint8_t type, std::uint8_t flags) {
  bytes_.push_back(type);
  bytes_.push_back(flags);
}

void FieldDescWriter::putCompact(std::int32_t value) {
  std::array<std::uint8_t, 4> buffer{};
  const std::size_t n = encodeCompact(value, buffer);
  if (n == 0) {
    failed_ = true;
    return;
  }
  bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
}

void FieldDescWriter::putText(std::string_view text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  bytes_.push_back(0);
}

std::uint8_t FieldDescWriter::flagsFor(std::string_view label, const FieldOptions& options,
                                       bool picture) const {
  std::uint8_t flags = 0;
  if (!options.nameAttribute.empty()) flags |= kFieldHasName;
  if (!label.empty()) flags |= kFieldHasLabel;
  if (picture && !options.picture.empty()) flags |= kFieldHasPicture;
  if (options.offsetAdjustment) flags |= kFieldHasOffset;
  if (!options.dimensions.empty()) flags |= kFieldHasDims;
  return flags;
}

void FieldDescWriter::endEntry(std::string_view label, const FieldOptions& options,
                               std::int64_t elementSize, bool isGroup) {
  if (!label.empty()) putText(label);
  if (!options.nameAttribute.empty()) putText(options.nameAttribute);
  if (options.offsetAdjustment) putCompact(*options.offsetAdjustment);
  std::int64_t elements = 1;
  if (!options.dimensions.empty()) {
    if (options.dimensions.size() > 255) failed_ = true;
    bytes_.push_back(static_cast<std::uint8_t>(options.dimensions.size()));
    for (std::int32_t d : options.dimensions) {
      putCompact(d);
      if (d < 0) failed_ = true;
      elements *= std::max<std::int64_t>(d, 0);
      elements = std::min<std::int64_t>(elements, std::numeric_limits<std::uint32_t>::max());
    }
  }
  const std::int64_t offset = running_ + options.offsetAdjustment.value_or(0);
  if (isGroup) {
    open_.back().offset = offset;
    open_.back().furthestEnd = offset;
    open_.back().elementCount = elements;
    running_ = offset;
  } else {
    running_ = offset + elementSize * elements;
    open_.back().furthestEnd = std::max(open_.back().furthestEnd, running_);
  }
  ++entries_;
}

FieldDescWriter& FieldDescWriter::group(std::string_view label, const FieldOptions& options) {
  if (rootClosed_) failed_ = true;
  open_.push_back(OpenGroup{bytes_.size(), entries_, 0, 0, 1});
  beginEntry(kTypeGroup, flagsFor(label, options, false));
  bytes_.resize(bytes_.size() + kGroupPartBytes, 0);  // filled in by endGroup
  endEntry(label, options, 0, true);
  return *this;
}

FieldDescWriter& FieldDescWriter::endGroup() {
  if (open_.empty()) {
    failed_ = true;
    return *this;
  }
  const OpenGroup g = open_.back();
  open_.pop_back();
  const std::int64_t size = g.furthestEnd - g.offset;
  const std::span<std::uint8_t> part(bytes_.data() + g.headerAt + 2, kGroupPartBytes);
  platform::storeLe32(part, 0, static_cast<std::uint32_t>(size));
  platform::storeLe32(part, 4, entries_ - g.firstEntry - 1);
  platform::storeLe32(part, 8, static_cast<std::uint32_t>(bytes_.size() - g.headerAt));
  running_ = g.offset + size * g.elementCount;
  if (open_.empty()) {
    rootClosed_ = true;
  } else {
    open_.back().furthestEnd = std::max(open_.back().furthestEnd, running_);
  }
  return *this;
}

FieldDescWriter& FieldDescWriter::sizedString(std::uint8_t type, std::string_view label,
                                              std::int32_t length, const FieldOptions& options) {
  if (open_.empty() || length < 0) failed_ = true;
  if (open_.empty()) return *this;
  beginEntry(type, flagsFor(label, options, true));
  putCompact(length);
  if (!options.picture.empty()) putText(options.picture);
  endEntry(label, options, length, false);
  return *this;
}

FieldDescWriter& FieldDescWriter::sizedDecimal(std::uint8_t type, std::string_view label,
                                               std::uint8_t size, std::uint8_t places,
                                               const FieldOptions& options) {
  if (open_.empty() || size == 0) failed_ = true;
  if (open_.empty()) return *this;
  beginEntry(type, flagsFor(label, options, false));
  bytes_.push_back(size);
  bytes_.push_back(places);
  endEntry(label, options, size, false);
  return *this;
}

FieldDescWriter& FieldDescWriter::fixed(std::uint8_t type, std::string_view label,
                                        const FieldOptions& options) {
  // Types with an own size part have their own calls.
  if (open_.empty() || type == kTypeGroup || isStringType(type) || isDecimalType(type) ||
      type == kTypeSized31 || type > kTypeHighestKnown) {
    failed_ = true;
    return *this;
  }
  beginEntry(type, flagsFor(label, options, false));
  endEntry(label, options, fixedTypeSize(type), false);
  return *this;
}

FieldDescWriter& FieldDescWriter::string(std::string_view label, std::int32_t length,
                                         const FieldOptions& options) {
  return sizedString(kTypeString, label, length, options);
}
FieldDescWriter& FieldDescWriter::cstring(std::string_view label, std::int32_t length,
                                          const FieldOptions& options) {
  return sizedString(kTypeCstring, label, length, options);
}
FieldDescWriter& FieldDescWriter::pstring(std::string_view label, std::int32_t length,
                                          const FieldOptions& options) {
  return sizedString(kTypePstring, label, length, options);
}
FieldDescWriter& FieldDescWriter::decimal(std::string_view label, std::uint8_t size,
                                          std::uint8_t places, const FieldOptions& options) {
  return sizedDecimal(kTypeDecimal, label, size, places, options);
}
FieldDescWriter& FieldDescWriter::pdecimal(std::string_view label, std::uint8_t size,
                                           std::uint8_t places, const FieldOptions& options) {
  return sizedDecimal(kTypePdecimal, label, size, places, options);
}
FieldDescWriter& FieldDescWriter::byteField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeByte, label, options);
}
FieldDescWriter& FieldDescWriter::shortField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeShort, label, options);
}
FieldDescWriter& FieldDescWriter::ushortField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeUshort, label, options);
}
FieldDescWriter& FieldDescWriter::longField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeLong, label, options);
}
FieldDescWriter& FieldDescWriter::ulongField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeUlong, label, options);
}
FieldDescWriter& FieldDescWriter::realField(std::string_view label, const FieldOptions& options) {
  return fixed(kTypeReal, label, options);
}

std::optional<std::vector<std::uint8_t>> FieldDescWriter::finish() const {
  if (failed_ || !rootClosed_ || !open_.empty()) return std::nullopt;
  return bytes_;
}

// ---- reader ----------------------------------------------------------------

FieldDescReader::FieldDescReader(std::span<const std::uint8_t> stream, std::uint32_t recordLength)
    : stream_(stream), recordLength_(recordLength), limit_(stream.size()) {}

int FieldDescReader::fail() {
  failed_ = true;
  open_.clear();
  return kInvalidFieldDescriptor;
}

bool FieldDescReader::readByte(std::uint8_t& out) {
  if (pos_ >= limit_) return false;
  out = stream_[pos_++];
  return true;
}

bool FieldDescReader::readU32(std::uint32_t& out) {
  if (pos_ > limit_ || limit_ - pos_ < 4) return false;
  out = platform::loadLe32(stream_, pos_);
  pos_ += 4;
  return true;
}

bool FieldDescReader::readCompact(std::int32_t& out) {
  if (pos_ >= limit_) return false;
  const auto c = decodeCompact(stream_.subspan(pos_, limit_ - pos_));
  if (!c) return false;
  out = c->value;
  pos_ += c->length;
  return true;
}

bool FieldDescReader::readText(std::string_view& out) {
  if (pos_ >= limit_) return false;
  const auto* begin = stream_.data() + pos_;
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(begin, 0, limit_ - pos_));
  if (zero == nullptr) return false;
  out = std::string_view(reinterpret_cast<const char*>(begin),
                         static_cast<std::size_t>(zero - begin));
  pos_ += out.size() + 1;
  return true;
}

int FieldDescReader::next(FieldEntry& out) {
  if (failed_ || finished_) return kInvalidFieldDescriptor;
  if (parse(out) != 0) return fail();
  finished_ = open_.empty();
  return 0;
}

int FieldDescReader::parse(FieldEntry& out) {
  constexpr int kBad = kInvalidFieldDescriptor;
  constexpr std::uint32_t kMaxSigned = std::numeric_limits<std::int32_t>::max();
  const std::uint64_t start = pos_;
  limit_ = open_.empty() ? stream_.size() : open_.back().end;

  out.number = nextNumber_;
  out.streamPos = static_cast<std::uint32_t>(start);
  out.level = static_cast<std::uint32_t>(open_.size());
  out.size = 0;
  out.elementCount = 1;
  out.places = 0;
  out.memberCount = 0;
  out.groupLength = 0;
  out.offsetAdjustment = 0;
  out.label = {};
  out.nameAttribute = {};
  out.picture = {};
  out.dimensions.clear();

  if (!readByte(out.type) || !readByte(out.flags)) return kBad;
  if ((out.flags & ~kFieldKnownFlags) != 0 || out.type > kTypeHighestKnown) return kBad;
  if (!started_ && out.type != kTypeGroup) return kBad;  // the record is one GROUP
  if ((out.flags & kFieldHasPicture) != 0 && !isStringType(out.type)) return kBad;

  std::uint64_t groupEnd = 0;
  std::uint64_t lastMember = 0;
  if (out.type == kTypeGroup) {
    std::uint32_t size = 0;
    if (!readU32(size) || !readU32(out.memberCount) || !readU32(out.groupLength)) return kBad;
    if (size > kMaxSigned || out.memberCount > kMaxSigned || out.groupLength > kMaxSigned) {
      return kBad;
    }
    out.size = size;
    groupEnd = start + out.groupLength;
    if (groupEnd > limit_ || groupEnd < pos_) return kBad;
    lastMember = std::uint64_t{out.number} + out.memberCount;
    if (!open_.empty() && lastMember > open_.back().lastEntry) return kBad;
    limit_ = groupEnd;  // the rest of the group's own entry lies inside it
  } else if (isDecimalType(out.type)) {
    std::uint8_t size = 0;
    if (!readByte(size) || !readByte(out.places)) return kBad;
    if (size == 0) return kBad;
    out.size = size;
  } else if (isStringType(out.type)) {
    std::int32_t length = 0;
    if (!readCompact(length) || length < 0) return kBad;
    out.size = static_cast<std::uint32_t>(length);
    if ((out.flags & kFieldHasPicture) != 0 && !readText(out.picture)) return kBad;
  } else if (out.type == kTypeSized31) {
    std::uint8_t size = 0;
    if (!readByte(size)) return kBad;
    out.size = size;
  } else {
    out.size = fixedTypeSize(out.type);
  }

  if ((out.flags & kFieldHasLabel) != 0 && !readText(out.label)) return kBad;
  if ((out.flags & kFieldHasName) != 0 && !readText(out.nameAttribute)) return kBad;
  if ((out.flags & kFieldHasOffset) != 0 && !readCompact(out.offsetAdjustment)) return kBad;
  if ((out.flags & kFieldHasDims) != 0) {
    std::uint8_t count = 0;
    if (!readByte(count)) return kBad;
    std::uint64_t product = 1;
    for (std::uint8_t i = 0; i < count; ++i) {
      std::int32_t d = 0;
      if (!readCompact(d) || d < 0) return kBad;
      out.dimensions.push_back(static_cast<std::uint32_t>(d));
      product *= static_cast<std::uint32_t>(d);
      if (product > std::numeric_limits<std::uint32_t>::max()) return kBad;
    }
    out.elementCount = static_cast<std::uint32_t>(product);
  }

  // Place the entry: all arithmetic in 64 bits, so nothing wraps.
  const std::int64_t offset = static_cast<std::int64_t>(running_) + out.offsetAdjustment;
  if (offset < 0) return kBad;
  const std::uint64_t end = static_cast<std::uint64_t>(offset) + out.totalSize();
  if (end > recordLength_) return kBad;
  out.offset = static_cast<std::uint32_t>(offset);

  if (!started_) {
    started_ = true;
    fieldCount_ = out.memberCount;
    streamLength_ = out.groupLength;
  }
  ++nextNumber_;
  if (out.type == kTypeGroup) {
    open_.push_back(OpenGroup{groupEnd, static_cast<std::uint32_t>(lastMember),
                              static_cast<std::uint64_t>(offset), out.totalSize()});
    running_ = static_cast<std::uint64_t>(offset);
  } else {
    running_ = end;
  }
  // Close every group whose last member this was; each must end exactly here.
  while (!open_.empty() && open_.back().lastEntry == out.number) {
    if (pos_ != open_.back().end) return kBad;
    running_ = open_.back().offset + open_.back().totalSize;
    open_.pop_back();
  }
  return 0;
}

int readFieldEntries(std::span<const std::uint8_t> stream, std::uint32_t recordLength,
                     std::vector<FieldEntry>& out) {
  out.clear();
  FieldDescReader reader(stream, recordLength);
  do {
    FieldEntry entry;
    if (reader.next(entry) != 0) return kInvalidFieldDescriptor;
    out.push_back(std::move(entry));
  } while (!reader.done());
  return 0;
}

std::span<const std::uint8_t> declaredStream(const std::uint8_t* recordDesc) {
  if (recordDesc == nullptr) return {};
  if (recordDesc[0] != kTypeGroup) return {recordDesc, 1};
  const std::span<const std::uint8_t> header(recordDesc, kGroupHeaderBytes);
  const std::uint32_t length = platform::loadLe32(header, 10);
  return {recordDesc, std::max<std::uint32_t>(length, kGroupHeaderBytes)};
}

}  // namespace fileaccess
