// Program end: first the hook that the driver installs (it commits a
// transaction still in progress), then CLOSE for every FileBlock still in the
// files in use, the most recently entered first.
#pragma once

namespace fileaccess {

using ProgramEndHook = void (*)();

// Installs the hook run first at program end; null removes it.
void setProgramEndHook(ProgramEndHook hook);

// Runs the hook, then closes every file still in use. Afterwards the list is
// empty: a file whose CLOSE fails is taken out all the same.
void programEnd();

}  // namespace fileaccess
