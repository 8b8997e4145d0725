#include "qbx/store/slot_allocator.h"

#include "qbx/store/entry_tree.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/internal_errors.h"
#include "qbx/store/store.h"

namespace qbx::store {
namespace {

using format::kMaxClass;

// Region bounds in unsigned page numbers, as the header keeps them.
struct Regions {
  FileHeader& h;
  std::uint32_t start(int c) const { return h.regionStart(c); }
  std::uint32_t end(int c) const { return h.regionEnd(c); }
  void setStart(int c, std::uint32_t v) { h.setRegionStart(c, v); }
  void setEnd(int c, std::uint32_t v) { h.setRegionEnd(c, v); }
  std::uint32_t gapAbove(int c) const { return start(c + 1) - end(c); }
};

std::int32_t asPage(std::uint32_t n) { return static_cast<std::int32_t>(n); }
std::uint32_t unit(int c) { return static_cast<std::uint32_t>(c); }

// Makes the gap above region a at least b pages by moving region a (and, if
// needed, the regions below it) down. Fails when region 1 would have to move.
bool makeRoomBelow(QbxStore& store, int a, std::uint32_t b) {
  Regions r{store.header()};
  if (a == 0) return false;
  if (r.gapAbove(a) >= b) return true;
  const std::uint32_t k = (b - r.gapAbove(a) + unit(a) - 1) / unit(a);
  if (!makeRoomBelow(store, a - 1, k * unit(a))) return false;
  while (r.gapAbove(a) < b) {
    movePage(store, asPage(r.end(a) - unit(a)), asPage(r.start(a) - unit(a)));
    r.setStart(a, r.start(a) - unit(a));
    r.setEnd(a, r.end(a) - unit(a));
  }
  return true;
}

// Makes the gap above region d at least a pages by moving the regions above
// it up; region 59 is the last and the file grows behind it.
void makeRoomAbove(QbxStore& store, int d, std::uint32_t a) {
  if (a > unit(d)) raiseInternalError(kErrMakeRoomAboveTooMany);
  Regions r{store.header()};
  if (d >= kMaxClass) return;
  if (r.gapAbove(d) >= a) return;
  const int e = d + 1;
  std::uint32_t shift;
  if (r.end(e) - r.start(e) > unit(e)) {
    makeRoomAbove(store, e, unit(e));
    movePage(store, asPage(r.start(e)), asPage(r.end(e)));
    shift = unit(e);
  } else {
    shift = a - r.gapAbove(d);
    makeRoomAbove(store, e, shift);
    if (r.end(e) != r.start(e)) {
      movePage(store, asPage(r.start(e)), asPage(r.start(e) + shift));
    }
  }
  r.setStart(e, r.start(e) + shift);
  r.setEnd(e, r.end(e) + shift);
}

}  // namespace

int classOf(const QbxStore& store, std::int32_t page) {
  if (page < 0) return 0;
  const FileHeader& h = store.header();
  const auto n = static_cast<std::uint32_t>(page);
  for (int c = 1; c <= kMaxClass; ++c) {
    if (h.regionStart(c) <= n && n < h.regionEnd(c)) return c;
  }
  raiseInternalError(kErrPageOutsideRegions);
}

std::int32_t allocateSlot(QbxStore& store, int sizeClass) {
  Regions r{store.header()};
  if (makeRoomBelow(store, sizeClass - 1, unit(sizeClass))) {
    r.setStart(sizeClass, r.start(sizeClass) - unit(sizeClass));
    return asPage(r.start(sizeClass));
  }
  makeRoomAbove(store, sizeClass, unit(sizeClass));
  const std::uint32_t slot = r.end(sizeClass);
  r.setEnd(sizeClass, slot + unit(sizeClass));
  return asPage(slot);
}

void freeSlot(QbxStore& store, std::int32_t page) {
  const int c = classOf(store, page);
  if (c == 0) return;
  Regions r{store.header()};
  movePage(store, asPage(r.end(c) - unit(c)), page);
  r.setEnd(c, r.end(c) - unit(c));
}

void setClass(QbxStore& store, std::int32_t page, int sizeClass) {
  const int current = classOf(store, page);
  if (current == sizeClass) return;
  if (current != 0) {
    const std::int32_t temporary = store.nextTemporaryPageNumber();
    movePage(store, page, temporary);
    freeSlot(store, page);
    page = temporary;
  }
  if (sizeClass != 0) movePage(store, page, allocateSlot(store, sizeClass));
}

void compact(QbxStore& store) {
  Regions r{store.header()};
  for (int c = 2; c <= kMaxClass; ++c) {
    const std::uint32_t length = r.end(c) - r.start(c);
    if (length > unit(c)) {
      while (r.start(c) - r.end(c - 1) >= unit(c)) {
        movePage(store, asPage(r.end(c) - unit(c)), asPage(r.start(c) - unit(c)));
        r.setStart(c, r.start(c) - unit(c));
        r.setEnd(c, r.end(c) - unit(c));
      }
    } else {
      if (length != 0) movePage(store, asPage(r.start(c)), asPage(r.end(c - 1)));
      r.setStart(c, r.end(c - 1));
      r.setEnd(c, r.start(c) + length);
    }
  }
}

void movePage(QbxStore& store, std::int32_t from, std::int32_t to) {
  if (from == to) return;
  QbxPage* page = store.getPage(from);
  store.markDirty(page);
  store.renumberPage(page, to);
  if (store.header().rootPage() == from) {
    store.header().setRootPage(to);
    return;
  }
  redirectSeparator(store, *page, from, to);
}

}  // namespace qbx::store
