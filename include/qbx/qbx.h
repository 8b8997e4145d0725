// The QBX interface for programs that read QBX files: open a file, list its
// tables, read their stored definitions, walk their records and decode their
// fields. See database.h.
#pragma once

#include "qbx/database.h"
#include "qbx/definition.h"
#include "qbx/errors.h"
#include "qbx/field_value.h"
#include "qbx/record_reader.h"
