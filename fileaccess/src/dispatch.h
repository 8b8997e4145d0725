// The last step of every call: the FileBlock's own driver entry, with no
// per-thread substitution (the FileBlock given is the one the driver sees).
#pragma once

#include <cstdint>
#include <span>

#include "fileaccess/declarations.h"

namespace fileaccess {

int dispatch(std::int32_t op, FileBlock& file, std::span<const std::intptr_t> words);

}  // namespace fileaccess
