#include "qbx/records/status_record.h"

#include <algorithm>

#include "platform/endian.h"
#include "qbx/records/entry_keys.h"
#include "qbx/store/entry.h"
#include "qbx/store/entry_tree.h"
#include "qbx/store/store.h"

namespace qbx::records {
namespace {

constexpr std::size_t kCounter1 = 0;
constexpr std::size_t kCounter2 = 4;

}  // namespace

StatusRecord::StatusRecord(store::QbxStore& store, std::uint32_t tableNumber, std::uint8_t selector)
    : store_(&store), cursor_(store), tableNumber_(tableNumber), selector_(selector) {}

void StatusRecord::reset() {
  const auto key = statusKey(tableNumber_, selector_);
  cursor_.release();
  if (store::QbxEntry* old = store::find(*store_, *store::makeEntry(key)); old != nullptr) {
    store::deleteEntry(*store_, old);
  }
  const std::array<std::uint8_t, kStatusDataSize> zero{};
  cursor_.set(store::makeEntry(key, zero), true);
}

void StatusRecord::attach() {
  cursor_.set(store::makeEntry(statusKey(tableNumber_, selector_)), false);
}

store::QbxEntry* StatusRecord::entry() {
  store::QbxEntry* e = cursor_.fetch();
  if (e == nullptr) {
    // A cursor that was never placed, or whose record has gone and come
    // back (EMPTY, another program), finds it again by key.
    attach();
    e = cursor_.fetch();
  }
  if (e == nullptr || e->data().size() != kStatusDataSize) return nullptr;
  return e;
}

store::QbxEntry* StatusRecord::ensure() {
  if (store::QbxEntry* e = entry(); e != nullptr) return e;
  reset();
  return cursor_.fetch();
}

std::optional<StatusCounters> StatusRecord::read() {
  const store::QbxEntry* e = entry();
  if (e == nullptr) return std::nullopt;
  return StatusCounters{platform::loadLe32(e->data(), kCounter1),
                        platform::loadLe32(e->data(), kCounter2)};
}

std::uint32_t StatusRecord::counter1() {
  const auto c = read();
  return c ? c->counter1 : 0;
}

std::uint32_t StatusRecord::counter2() {
  const auto c = read();
  return c ? c->counter2 : 0;
}

std::uint32_t StatusRecord::markOutOfDate(std::uint32_t n, bool lower) {
  if (lower && n == 0) return counter2();
  store::QbxEntry* e = ensure();
  const std::uint32_t mark = platform::loadLe32(e->data(), kCounter2);
  if (lower && mark != 0 && mark <= n) return mark;
  platform::storeLe32(e->data(), kCounter2, n);
  cursor_.markPage();
  return n;
}

std::optional<std::uint32_t> StatusRecord::addToCounter(std::int64_t delta, bool add) {
  store::QbxEntry* e = entry();
  if (e == nullptr) return std::nullopt;
  const std::int64_t old = platform::loadLe32(e->data(), kCounter1);
  const std::int64_t wanted = add ? old + delta : delta;
  const auto value = static_cast<std::uint32_t>(std::clamp<std::int64_t>(wanted, 0, 0xFFFFFFFF));
  platform::storeLe32(e->data(), kCounter1, value);
  cursor_.markPage();
  return value;
}

void StatusRecord::setCounter2(std::uint32_t value) {
  static_cast<void>(markOutOfDate(value, false));
}

}  // namespace qbx::records
