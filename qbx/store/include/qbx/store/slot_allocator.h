// The slot allocator: the pages of size class c (c x 256 bytes) lie without
// holes in region c, the regions in class order. Allocating, freeing and
// changing a page's class move other pages (renumbering them in the cache;
// they reach their new slots at the next commit), so the file stays dense
// and ends at its logical end.
#pragma once

#include <cstdint>

namespace qbx::store {

class QbxStore;

// 0 for a temporary number, else the class of the region that holds the
// page; a page number in no region is internal error 1735.
int classOf(const QbxStore& store, std::int32_t page);

// A new slot of the class: region c grows downward when room can be made
// below it, else upward, pushing the regions above it.
std::int32_t allocateSlot(QbxStore& store, int sizeClass);

// Gives up the slot of a page that has already been renumbered: the
// region's last page fills the hole.
void freeSlot(QbxStore& store, std::int32_t page);

// Moves the page into a slot of the class (0: a temporary number).
void setClass(QbxStore& store, std::int32_t page, int sizeClass);

// Closes the gaps between the regions before a commit writes.
void compact(QbxStore& store);

// Renumbers a page (reading it when needed), marks it dirty and updates the
// reference to it: the root page number or its separator.
void movePage(QbxStore& store, std::int32_t from, std::int32_t to);

}  // namespace qbx::store
