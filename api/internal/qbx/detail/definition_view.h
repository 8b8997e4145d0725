// The public form of a table definition, made from the record layer's own.
#pragma once

#include "qbx/definition.h"
#include "qbx/records/table_def.h"

namespace qbx::detail {

// Fields keep their order; a field's group is the innermost GROUP before it
// whose bytes hold the field's bytes (a stored definition keeps no member
// counts, so this is how its groups are known).
TableDefinition publicDefinition(const records::QbxTableDef& def);

}  // namespace qbx::detail
