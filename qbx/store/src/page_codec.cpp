#include "qbx/store/page_codec.h"

#include <algorithm>
#include <cstring>

#include "platform/endian.h"
#include "qbx/store/compression.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/page_tree.h"

namespace qbx::store {

using namespace format;

namespace {

std::size_t headerLength(std::uint8_t level, std::size_t count) {
  return kPageHeaderSize + (level > 0 ? kChildNumberSize * count : 0);
}

// Writes the entries of a tree in key order from offset at, never past limit.
std::size_t encodeEntries(const QbxEntry* root, std::span<std::uint8_t> out, std::size_t at,
                          std::size_t limit) {
  const QbxEntry* previous = nullptr;
  for (auto* e = leftmost(const_cast<QbxEntry*>(root)); e != nullptr; e = inTreeSuccessor(e)) {
    std::uint8_t flags = kFlagTotalLength | kFlagKeyLength;
    std::size_t shared = 0;
    if (previous != nullptr) {
      flags = 0;
      if (e->totalLength != previous->totalLength) flags |= kFlagTotalLength;
      if (e->keyLength != previous->keyLength) flags |= kFlagKeyLength;
      const std::size_t most =
          std::min<std::size_t>({e->totalLength, previous->totalLength, kMaxShared});
      while (shared < most && e->bytes()[shared] == previous->bytes()[shared]) ++shared;
    }
    const std::size_t need = 1 + ((flags & kFlagTotalLength) ? 2 : 0) +
                             ((flags & kFlagKeyLength) ? 2 : 0) + (e->totalLength - shared);
    if (need > limit - at) raiseInternalError(kErrEncodeOverEstimate);
    out[at++] = static_cast<std::uint8_t>(flags | shared);
    if (flags & kFlagTotalLength) {
      platform::storeLe16(out, at, e->totalLength);
      at += 2;
    }
    if (flags & kFlagKeyLength) {
      platform::storeLe16(out, at, e->keyLength);
      at += 2;
    }
    std::memcpy(out.data() + at, e->bytes() + shared, e->totalLength - shared);
    at += e->totalLength - shared;
    previous = e;
  }
  return at;
}

// Reads entries one at a time from an expanded entry area, checking every
// length and the ascending order of the keys.
class EntryReader {
 public:
  EntryReader(std::span<const std::uint8_t> area, std::size_t at) : area_(area), at_(at) {}

  EntryPtr next() {
    const std::uint8_t flags = byte();
    const std::size_t shared = flags & kSharedMask;
    std::size_t total = previous_ ? previous_->totalLength : 0;
    std::size_t key = previous_ ? previous_->keyLength : 0;
    if (previous_ == nullptr && (flags & ~kSharedMask) != (kFlagTotalLength | kFlagKeyLength)) {
      raiseInternalError(kErrPageDecode);
    }
    if (flags & kFlagTotalLength) total = word();
    if (flags & kFlagKeyLength) key = word();
    const std::size_t previousTotal = previous_ ? previous_->totalLength : 0;
    if (total > kMaxEntryLength || key > total || shared > previousTotal || shared > total ||
        total - shared > area_.size() - at_) {
      raiseInternalError(kErrPageDecode);
    }
    EntryPtr e = newEntry(key, total - key);
    if (shared > 0) std::memcpy(e->bytes(), previous_->bytes(), shared);
    std::memcpy(e->bytes() + shared, area_.data() + at_, total - shared);
    at_ += total - shared;
    if (previous_ != nullptr && compareEntries(*previous_, *e) >= 0) {
      raiseInternalError(kErrPageDecode);
    }
    previous_ = e.get();
    return e;
  }

  std::size_t position() const { return at_; }

 private:
  std::uint8_t byte() {
    if (at_ >= area_.size()) raiseInternalError(kErrPageDecode);
    return area_[at_++];
  }
  std::uint16_t word() {
    if (area_.size() - at_ < 2) raiseInternalError(kErrPageDecode);
    const std::uint16_t v = platform::loadLe16(area_, at_);
    at_ += 2;
    return v;
  }

  std::span<const std::uint8_t> area_;
  std::size_t at_;
  const QbxEntry* previous_ = nullptr;
};

// Links entries [first, first + n) of an ordered run into a perfectly
// balanced tree: n / 2 entries to the left, then the root, then the rest.
QbxEntry* buildBalanced(std::vector<EntryPtr>& entries, std::size_t first, std::size_t n) {
  if (n == 0) return nullptr;
  const std::size_t leftCount = n / 2;
  QbxEntry* left = buildBalanced(entries, first, leftCount);
  QbxEntry* root = entries[first + leftCount].get();
  QbxEntry* right = buildBalanced(entries, first + leftCount + 1, n - leftCount - 1);
  root->left = left;
  root->right = right;
  fixEntry(root);
  return root;
}

}  // namespace

std::uint32_t computeSizeEstimate(const QbxPage& page) {
  const std::uint32_t perEntry = kEntryOverhead + (page.level > 0 ? kChildNumberSize : 0);
  std::uint32_t estimate = kEmptyPageEstimate;
  for (auto* e = leftmost(page.tree); e != nullptr; e = inTreeSuccessor(e)) {
    estimate += e->totalLength + perEntry;
  }
  return estimate;
}

std::vector<std::uint8_t> encodePage(const QbxPage& page) {
  const std::size_t count = static_cast<std::size_t>(page.entryCount());
  const std::size_t h = headerLength(page.level, count);
  const std::size_t estimate = page.sizeEstimate;
  if (h > estimate) raiseInternalError(kErrEncodeOverEstimate);
  std::vector<std::uint8_t> plain(estimate);
  platform::storeLe16(plain, kPageSizeEstimate, static_cast<std::uint16_t>(estimate));
  platform::storeLe16(plain, kPageEntryCount, static_cast<std::uint16_t>(count));
  plain[kPageLevel] = page.level;
  const std::size_t expanded = encodeEntries(page.tree, plain, h, estimate);
  platform::storeLe16(plain, kPageExpandedLength, static_cast<std::uint16_t>(expanded));

  std::vector<std::uint8_t> packed(expanded + 10);
  const std::size_t compressed =
      compress(std::span<const std::uint8_t>(plain).subspan(h, expanded - h),
               std::span<std::uint8_t>(packed).subspan(h));
  const std::size_t packedStored = h + compressed;

  std::vector<std::uint8_t> image;
  std::size_t stored;
  if (roundToUnit(static_cast<std::uint32_t>(std::min<std::size_t>(packedStored, UINT32_MAX))) <
      roundToUnit(static_cast<std::uint32_t>(expanded))) {
    std::copy_n(plain.begin(), h, packed.begin());
    image = std::move(packed);
    stored = packedStored;
  } else {
    image = std::move(plain);
    stored = expanded;
  }
  const std::uint32_t slot = roundToUnit(static_cast<std::uint32_t>(stored));
  if (slot > kMaxPageSize) raiseInternalError(kErrEncodeTooLarge);
  platform::storeLe16(image, kBlockStoredLength, static_cast<std::uint16_t>(stored));
  image.resize(slot);
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(stored), image.end(), kFillByte);
  return image;
}

void writeBlockFields(const QbxPage& page, std::span<std::uint8_t> image) {
  platform::storeLe32(image, kBlockHomeOffset, static_cast<std::uint32_t>(pageOffset(page.number)));
  if (page.level == 0) return;
  std::size_t at = kPageHeaderSize;
  for (auto* e = leftmost(page.tree); e != nullptr; e = inTreeSuccessor(e)) {
    platform::storeLe32(image, at, e->child);
    at += kChildNumberSize;
  }
}

void decodePage(QbxPage& page, std::span<const std::uint8_t> image, std::uint32_t slotSize) {
  if (image.size() < kPageHeaderSize) raiseInternalError(kErrImageLength);
  const std::size_t stored = platform::loadLe16(image, kBlockStoredLength);
  const std::size_t expanded = platform::loadLe16(image, kPageExpandedLength);
  const std::size_t estimate = platform::loadLe16(image, kPageSizeEstimate);
  const std::size_t count = platform::loadLe16(image, kPageEntryCount);
  const std::uint8_t level = image[kPageLevel];
  const std::size_t h = headerLength(level, count);
  if (roundToUnit(static_cast<std::uint32_t>(stored)) != slotSize || stored > image.size() ||
      stored < h) {
    raiseInternalError(kErrImageLength);
  }
  const bool compressed = stored < expanded;
  if (expanded < h || (!compressed && stored != expanded) || (level > 0 && count == 0) ||
      estimate < expanded) {
    raiseInternalError(kErrPageDecode);
  }

  std::vector<std::uint8_t> buffer;
  std::span<const std::uint8_t> area = image.first(stored);
  if (compressed) {
    buffer.resize(expanded);
    std::copy_n(image.begin(), h, buffer.begin());
    expand(image.subspan(h, stored - h), std::span<std::uint8_t>(buffer).subspan(h));
    area = buffer;
  }

  // Every entry takes at least one byte, which bounds the count before
  // anything is allocated for it.
  if (count > expanded - h) raiseInternalError(kErrPageDecode);
  std::vector<EntryPtr> entries;
  entries.reserve(count);
  EntryReader reader(area, h);
  for (std::size_t i = 0; i < count; ++i) {
    EntryPtr e = reader.next();
    if (level > 0) {
      const std::uint32_t child = platform::loadLe32(area, kPageHeaderSize + kChildNumberSize * i);
      if (child > static_cast<std::uint32_t>(INT32_MAX)) raiseInternalError(kErrPageOutsideRegions);
      e->child = child;
    }
    entries.push_back(std::move(e));
  }
  if (reader.position() != expanded) raiseInternalError(kErrPageDecode);

  page.tree = buildBalanced(entries, 0, entries.size());
  for (EntryPtr& e : entries) (void)e.release();
  page.level = level;
  page.sizeEstimate = static_cast<std::uint32_t>(estimate);
  page.decoded = true;
}

}  // namespace qbx::store
