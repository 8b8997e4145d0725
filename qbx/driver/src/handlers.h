// The operation handlers behind the driver entry. Each runs after the rule
// check has passed and returns the operation's result (0 or an error code);
// its numeric and text outputs go into the DriverCall.
#pragma once

#include "driver_call.h"

namespace qbx::driver {

using Handler = int (*)(DriverCall& call);

// The handler of a code; null when the driver does not carry it out (the
// call then fails with 80).
Handler findHandler(int code);

// Names (names_handlers.cpp).
int handleName(DriverCall& call);
int handleSend(DriverCall& call);
int handleEntryAddress(DriverCall& call);

// RENAME and COPY (file_transfer.cpp).
int handleRename(DriverCall& call);
int handleCopy(DriverCall& call);

// An address as the 32-bit numeric result: the address when it fits, else 0
// (the text reply of SEND "REGISTER" carries it whole).
std::int32_t addressResult(const void* address);

}  // namespace qbx::driver
