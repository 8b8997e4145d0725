// Decoding a page image read from a slot, from arbitrary bytes.
//
// Input: the image. It is padded with fill bytes to whole 256-byte units (at
// most one 15104-byte slot) and decoded as that slot. Decoding must succeed
// or raise an internal error, leaving no tree behind. A decoded page must
// encode again (unless it needs more than a page) into an image that decodes
// to the same level and entries, child numbers included.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "qbx/store/format.h"
#include "qbx/store/internal_error.h"
#include "qbx/store/page.h"
#include "qbx/store/page_codec.h"
#include "qbx/store/page_tree.h"

namespace {

using namespace qbx::store;

// Frees the page's entries when the target is done with it.
struct OwnedPage {
  QbxPage page;
  ~OwnedPage() { freeTree(page.tree); }
};

bool sameEntries(const QbxPage& a, const QbxPage& b) {
  if (a.level != b.level || a.entryCount() != b.entryCount()) return false;
  QbxEntry* x = leftmost(a.tree);
  QbxEntry* y = leftmost(b.tree);
  for (; x != nullptr && y != nullptr; x = inTreeSuccessor(x), y = inTreeSuccessor(y)) {
    if (x->keyLength != y->keyLength || x->totalLength != y->totalLength ||
        (a.level > 0 && x->child != y->child) ||
        !std::equal(x->all().begin(), x->all().end(), y->all().begin())) {
      return false;
    }
  }
  return x == nullptr && y == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > format::kMaxPageSize) return 0;
  const std::uint32_t slot = std::max(format::roundToUnit(static_cast<std::uint32_t>(size)),
                                      format::kPageUnit);
  std::vector<std::uint8_t> image(data, data + size);
  image.resize(slot, format::kFillByte);

  OwnedPage decoded;
  try {
    decodePage(decoded.page, image, slot);
  } catch (const InternalError&) {
    if (decoded.page.tree != nullptr || decoded.page.decoded) std::abort();
    return 0;
  }
  if (!decoded.page.decoded) std::abort();

  decoded.page.sizeEstimate = computeSizeEstimate(decoded.page);
  std::vector<std::uint8_t> again;
  try {
    again = encodePage(decoded.page);
  } catch (const InternalError& e) {
    if (e.number != 1678) std::abort();  // only a page beyond 15104 bytes may not encode
    return 0;
  }
  writeBlockFields(decoded.page, again);
  OwnedPage redecoded;
  decodePage(redecoded.page, again, static_cast<std::uint32_t>(again.size()));
  if (!sameEntries(decoded.page, redecoded.page)) std::abort();
  return 0;
}
