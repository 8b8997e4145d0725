// The entries by which a key differs from what its records form: both
// sides collected and compared one by one, for the report of a key whose
// multisets did not match.
#pragma once

#include <cstdint>
#include <string>

#include "problem_log.h"
#include "qbx/records/table_def.h"

namespace qbx::store {
class QbxStore;
}

namespace qbx::inspector {

// Lists up to a few missing and a few superfluous entries of the key (for a
// key with a mark, of the records below it). May raise the store's internal
// errors.
void listKeyDifferences(store::QbxStore& store, const records::QbxTableDef& def,
                        const records::QbxKeyDef& key, std::uint32_t mark,
                        const std::string& keyName, ProblemLog& log);

}  // namespace qbx::inspector
