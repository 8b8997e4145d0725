// Why a file's header was refused: each check that the header read from the
// file fails, as problem lines.
#pragma once

#include <string>
#include <string_view>

#include "problem_log.h"

namespace qbx::inspector {

// Reads the header at offset 0 (deciphered with the password when there is
// one) and reports every reason it cannot be taken as a QBX file's header.
void reportHeaderProblems(const std::string& fullName, std::string_view password, ProblemLog& log);

}  // namespace qbx::inspector
