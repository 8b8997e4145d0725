// BUILD of the file, of one key and of a dynamic index: read the records from
// the key's mark, sort their key values, enter the entries in key order.
#include "qbx/records/key_build.h"

#include <algorithm>
#include <vector>

#include "key_build_fields.h"
#include "platform/endian.h"
#include "platform/expression.h"
#include "qbx/records/entry_buffer.h"
#include "qbx/records/entry_keys.h"
#include "qbx/records/key_value.h"
#include "qbx/records/record_oem.h"
#include "qbx/records/result_codes.h"
#include "qbx/records/sorter.h"
#include "qbx/records/table_keys.h"
#include "qbx/store/cursor.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

// A key that is not one of the table's.
constexpr int kErrInvalidKeyFile = 38;

// The smaller of two record numbers where 0 stands for none.
std::uint32_t smallerNonZero(std::uint32_t a, std::uint32_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

class KeyBuild {
 public:
  KeyBuild(QbxTable& table, const QbxKeyDef& key, const BuildSettings& settings)
      : table_(table), def_(table.def()), key_(key), settings_(settings), fields_(table.def()) {}

  int run(std::optional<std::string_view> filter);

 private:
  enum class ReadEnd { kEnd, kCancelled, kSortFailed };

  // Deletes the key's entries of records from start on; the entries that
  // remain.
  std::uint32_t deleteFromStart();
  ReadEnd readRecords(Sorter& sorter);
  // The image of a stored record as the program sees it (from OEM), in the
  // build's own buffer unless the stored bytes can be used as they are.
  std::span<const std::uint8_t> imageOf(const store::QbxEntry& record);
  // Enters the sorted items; 0 or the error that ended it.
  int enterItems(Sorter& sorter);
  // Writes the counter and the mark (from markFrom and the lowest refused
  // record) and commits the file's store. 0 or the commit's error.
  int finish(std::uint32_t markFrom);

  QbxTable& table_;
  QbxTableDef& def_;
  const QbxKeyDef& key_;
  const BuildSettings& settings_;
  store::QbxStore* store_ = nullptr;  // where the key's entries live
  StatusRecord* status_ = nullptr;
  TableFilterFields fields_;
  platform::Expression filter_;
  bool hasFilter_ = false;

  std::uint32_t start_ = 0;
  std::uint32_t entryCount_ = 0;
  std::uint32_t lowestDuplicate_ = 0;
  int sortError_ = 0;
  std::vector<std::uint8_t> image_;
  std::vector<std::uint8_t> item_;
  EntryBuffer position_;
  EntryBuffer entry_;
};

int KeyBuild::run(std::optional<std::string_view> filter) {
  if (key_.components.empty()) return kOk;
  TableKeys& keys = table_.keys();
  if (!keys.owns(key_)) return kErrInvalidKeyFile;
  // A dynamic index lives in a store of its own: the file is only read.
  if (!key_.isDynamic()) table_.store().enterWriterMode();
  if (filter) hasFilter_ = filter_.compile(*filter, fields_) == 0;

  if (key_.isDynamic()) {
    // A dynamic index starts again from nothing: a fresh private store with
    // a fresh status record.
    keys.resetDynamic(key_);
    start_ = 1;
  } else {
    start_ = settings_.fullBuild ? 1 : keys.statusOf(key_)->counter2();
  }
  if (start_ == 0) return kOk;  // the key is complete
  store_ = keys.storeOf(key_);
  status_ = keys.statusOf(key_);

  if (key_.isIndex() || settings_.fullBuild) {
    entryCount_ = deleteFromStart();
  } else {
    entryCount_ = status_->counter1();
  }

  Sorter sorter(key_.valueLength + kRecordNumberSize);
  const ReadEnd end = readRecords(sorter);
  int result = kOk;
  if (end == ReadEnd::kEnd) {
    result = enterItems(sorter);
  } else {
    // Nothing of this build is entered.
    sorter.discard();
    result = end == ReadEnd::kCancelled ? kErrBuildCancelled : sortError_;
  }
  if (result != kOk) {
    // A cancel or a failed sort leaves the key marked from its start, with
    // the entries it has; a failed commit has ended the build already. The
    // build's own error stays the result whatever this commit gives.
    if (end != ReadEnd::kEnd || sortError_ != 0) static_cast<void>(finish(start_));
    return result;
  }
  // Every record has been read: the key is complete but for refused values.
  if (const int error = finish(0); error != kOk) return error;
  return lowestDuplicate_ != 0 ? kErrCreatesDuplicateKey : kOk;
}

std::uint32_t KeyBuild::deleteFromStart() {
  TableKeys& keys = table_.keys();
  std::uint32_t remaining = 0;
  EntryBuffer at;
  for (const store::QbxEntry* e = keys.first(key_); e != nullptr; e = keys.after(key_, at.key())) {
    at.setKey(e->key());
    if (trailingRecordNumber(e->all()) < start_) {
      ++remaining;
    } else if (store::QbxEntry* victim = store::find(*store_, at.entry()); victim != nullptr) {
      store::deleteEntry(*store_, victim);
    }
  }
  return remaining;
}

std::span<const std::uint8_t> KeyBuild::imageOf(const store::QbxEntry& record) {
  const std::span<const std::uint8_t> data = record.data();
  if (!def_.isOem() && data.size() == def_.recordLength) return data;
  // A stored image of another length is read as far as both go; the rest of
  // the record is zero.
  image_.resize(def_.recordLength);
  const std::size_t n = std::min<std::size_t>(data.size(), image_.size());
  std::copy_n(data.begin(), n, image_.begin());
  std::fill(image_.begin() + static_cast<std::ptrdiff_t>(n), image_.end(), std::uint8_t{0});
  if (def_.isOem()) recordFromOem(def_, image_);
  return image_;
}

KeyBuild::ReadEnd KeyBuild::readRecords(Sorter& sorter) {
  store::QbxStore& fileStore = table_.store();
  const std::uint32_t tableNumber = def_.tableNumber;
  item_.assign(key_.valueLength + kRecordNumberSize, 0);
  const std::span<std::uint8_t> value(item_.data(), key_.valueLength);
  std::uint32_t handled = 0;
  // The position is kept as a key of its own: the tree's entries may move
  // while pages come and go, and the program may work in between (events).
  position_.setKey(dataRecordKey(tableNumber, start_ - 1));
  for (;;) {
    const store::QbxEntry* e = store::next(fileStore, position_.entry());
    if (e == nullptr || e->keyLength != kDataRecordKeySize ||
        platform::loadBe32(e->key(), 0) != tableNumber || e->key()[kKindOffset] != kKindDataRecord) {
      return ReadEnd::kEnd;
    }
    position_.setKey(e->key());
    const std::uint32_t n = platform::loadBe32(e->key(), kTablePrefixSize);
    const std::span<const std::uint8_t> image = imageOf(*e);
    bool enter = !blankForOpt(def_, key_, image);
    if (enter && hasFilter_) {
      fields_.setImage(image);
      enter = filter_.evaluate(fields_) == 1;
    }
    if (enter) {
      formKeyValue(def_, key_, image, value);
      platform::storeBe32(item_, key_.valueLength, n);
      if (const int error = sorter.add(item_); error != 0) {
        sortError_ = error;
        return ReadEnd::kSortFailed;
      }
    }
    if (settings_.progress != nullptr) {
      ++handled;
      if (reportsProgress(handled, settings_.interval) &&
          settings_.progress->progress(handled) != 0) {
        return ReadEnd::kCancelled;
      }
    }
  }
}

int KeyBuild::enterItems(Sorter& sorter) {
  if (const int error = sorter.endInput(); error != 0) {
    sortError_ = error;
    return error;
  }
  const bool search = !(key_.isDup() && key_.isIndex());
  const std::size_t valueEnd = kTablePrefixSize + key_.valueLength;
  // Entries arrive in key order: the cursor's leaf takes most of them
  // without a walk from the root.
  store::QbxCursor cursor(*store_);
  for (;;) {
    std::span<const std::uint8_t> item;
    if (const int error = sorter.next(&item); error != 0) {
      sortError_ = error;
      return error;
    }
    if (item.empty()) return kOk;
    // Table number, key number, value, record number: the record number is
    // the end of the key part of a DUP key and the data of a unique one.
    const std::span<std::uint8_t> bytes =
        entry_.shape(key_.entryKeyLength(), key_.entryDataLength());
    putTablePrefix(bytes, def_.tableNumber, key_.keyNumber);
    std::copy(item.begin(), item.end(), bytes.begin() + kTablePrefixSize);
    const std::uint32_t n = platform::loadBe32(bytes, valueEnd);
    if (search) {
      if (const store::QbxEntry* existing = store::find(*store_, entry_.entry());
          existing != nullptr) {
        if (!key_.isDup() && trailingRecordNumber(existing->all()) != n) {
          lowestDuplicate_ = smallerNonZero(lowestDuplicate_, n);
        }
        continue;
      }
    }
    cursor.insert(entry_.copy());
    ++entryCount_;
    if (!key_.isDynamic() && store_->dirtyPageCount() >= kBuildCommitPages) {
      // The key is still marked from its start until the last item is in.
      if (const int error = finish(start_); error != kOk) return error;
    }
  }
}

int KeyBuild::finish(std::uint32_t markFrom) {
  static_cast<void>(status_->addToCounter(entryCount_, false));
  // A dynamic index lives in memory only: nothing to mark or write.
  if (key_.isDynamic()) return kOk;
  static_cast<void>(status_->markOutOfDate(smallerNonZero(lowestDuplicate_, markFrom), false));
  return table_.store().commit();
}

}  // namespace

bool reportsProgress(std::uint32_t handled, std::uint16_t interval) {
  const std::uint32_t p = std::clamp(interval, kMinBuildInterval, kMaxBuildInterval);
  const std::uint32_t mask = (p - 1) * 256 + 127;
  return ((0u - handled) & mask) == 0;
}

int buildKey(QbxTable& table, const QbxKeyDef& key, std::optional<std::string_view> filter,
             const BuildSettings& settings) {
  KeyBuild build(table, key, settings);
  return build.run(filter);
}

int buildDynamicIndex(QbxTable& table, QbxKeyDef& key, std::string_view components,
                      std::optional<std::string_view> filter, const BuildSettings& settings) {
  if (const int error = setDynamicComponents(table.def(), key, components); error != kOk) {
    return error;
  }
  return buildKey(table, key, filter, settings);
}

int buildFile(QbxTable& table, bool truncate, const BuildSettings& settings) {
  store::QbxStore& s = table.store();
  s.enterWriterMode();
  if (settings.fullBuild) table.saveCollation();
  for (const QbxKeyDef& key : table.def().keys) {
    if (key.isIndex()) continue;
    if (const int error = buildKey(table, key, std::nullopt, settings); error != kOk) return error;
  }
  if (truncate) {
    // The file is cut to the end of its committed state only: pages freed by
    // changes not yet committed are still the committed tree's.
    if (const int error = s.commit(); error != 0) return error;
    s.truncate();
  }
  return kOk;
}

}  // namespace qbx::records
