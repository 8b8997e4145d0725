// A consistency check of a store: every page reachable from the root decodes,
// levels and child numbers agree, the entries ascend strictly across the
// whole tree and begin with the empty-key entry, every separator equals the
// first key of its child, every slot of every region belongs to exactly one
// reachable page, and the file is no shorter than its logical end. Every
// problem found is reported; the check does not stop at the first.
#pragma once

#include <string>
#include <vector>

namespace qbx::store {

class QbxStore;

std::vector<std::string> checkConsistency(QbxStore& store);

}  // namespace qbx::store
