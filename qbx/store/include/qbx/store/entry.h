// QbxEntry: one entry of the entry tree, a run of key bytes followed by a
// run of data bytes, with the links of the in-page tree that holds it. The
// bytes follow the entry's head in one allocation.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace qbx::store {

struct QbxEntry {
  QbxEntry* left = nullptr;    // smaller entries of the page's subtree (none: empty)
  QbxEntry* right = nullptr;   // greater entries
  QbxEntry* parent = nullptr;  // none at the root of a page's tree or outside any tree
  std::uint32_t child = 0;     // separators: the page the separator leads to
  std::int32_t count = 1;      // entries in the subtree rooted here
  std::uint16_t totalLength = 0;
  std::uint16_t keyLength = 0;

  std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(this + 1); }
  const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(this + 1); }
  std::span<std::uint8_t> all() { return {bytes(), totalLength}; }
  std::span<const std::uint8_t> all() const { return {bytes(), totalLength}; }
  std::span<const std::uint8_t> key() const { return {bytes(), keyLength}; }
  std::span<const std::uint8_t> data() const {
    return {bytes() + keyLength, static_cast<std::size_t>(totalLength - keyLength)};
  }
  std::span<std::uint8_t> data() {
    return {bytes() + keyLength, static_cast<std::size_t>(totalLength - keyLength)};
  }
  // The child page number as the signed page number it stands for.
  std::int32_t childPage() const { return static_cast<std::int32_t>(child); }
};

// Frees an entry made by newEntry (or by decoding a page).
void freeEntry(QbxEntry* entry);

struct EntryDeleter {
  void operator()(QbxEntry* entry) const { freeEntry(entry); }
};
// An entry that no tree owns (yet).
using EntryPtr = std::unique_ptr<QbxEntry, EntryDeleter>;

// A new entry with its lengths set and its bytes zeroed, for the caller to
// fill. Key length + data length above 15093 is internal error 824.
EntryPtr newEntry(std::size_t keyLength, std::size_t dataLength);
// A new entry holding the given key and data.
EntryPtr makeEntry(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data = {});
EntryPtr copyEntry(const QbxEntry& entry);
// A key-only copy (no data bytes, no child number).
EntryPtr copyKey(const QbxEntry& entry);

// Orders entries by their keys as unsigned bytes; a key that is a prefix of
// another sorts first. Data bytes never take part. <0, 0 or >0.
int compareEntries(const QbxEntry& a, const QbxEntry& b);
int compareKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace qbx::store
