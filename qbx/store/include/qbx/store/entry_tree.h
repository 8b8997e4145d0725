// The entry tree: every entry of a file in one B+tree over its pages. Leaf
// pages hold the entries; index pages hold separators (a copy of the first
// key of the child page, and the child's page number). The tree's first
// entry is the empty-key entry, which is never removed. Every walk costs the
// depth of the tree times the depth of the in-page trees on its path.
#pragma once

#include <cstdint>

#include "qbx/store/entry.h"
#include "qbx/store/page.h"

namespace qbx::store {

class QbxStore;

// The root page; in a new file it is started here (temporary number -1,
// holding the empty-key entry). A failed header refresh is internal error
// 1013.
QbxPage* getRootPage(QbxStore& store);

// The entry with a key equal to the search key's, or none.
QbxEntry* find(QbxStore& store, const QbxEntry& key);

struct Located {
  QbxEntry* entry = nullptr;  // the equal entry, or none
  QbxPage* leaf = nullptr;    // the leaf page where the key belongs
};
// As find, and the leaf where the key belongs. With upperBound, also a copy
// of the smallest separator above that leaf's range (none for the last
// leaf): every key below it that is greater than the leaf's entries
// belongs in this leaf.
Located locate(QbxStore& store, const QbxEntry& key, EntryPtr* upperBound = nullptr);

// The entry with the smallest key greater than the entry's key, or none.
// The entry may be one of the tree's or a search key.
QbxEntry* next(QbxStore& store, QbxEntry& entry);

// The entry with the greatest key smaller than the search key (which is not
// the empty key), or none when that is the empty-key entry.
QbxEntry* previous(QbxStore& store, const QbxEntry& key);

// Inserts an entry (writer mode, else internal error 1194); the tree takes
// it. An equal key in the tree is internal error 706.
void insert(QbxStore& store, EntryPtr entry);
// Inserts e into the page of the given level on its key's path (0: a leaf;
// above: a separator) and splits as needed. The tree takes e.
void insertAtLevel(QbxStore& store, EntryPtr e, std::uint8_t level);

// Removes an entry of the tree and frees it (writer mode, else internal
// error 1203). Separators follow a changed first key; an emptied page gives
// up its slot and its separator.
void deleteEntry(QbxStore& store, QbxEntry* entry);

// Splits the page when its size estimate exceeds 15094, or 4096 while it
// holds more than 20 entries.
bool needsSplit(const QbxPage& page);
void splitIfNeeded(QbxStore& store, QbxPage* page);

// The separator of a page: a key-only copy of its first entry, leading to it.
EntryPtr separatorOf(const QbxPage& page);

// Points the separator that leads to a renumbered page at its new number
// (the page holds its first entry under the new number already).
void redirectSeparator(QbxStore& store, const QbxPage& page, std::int32_t from, std::int32_t to);

}  // namespace qbx::store
