// The driver's descriptor record: what the driver is and what it supports.
// SEND "REGISTER" hands out its address; nothing in this system reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fileaccess/declarations.h"

namespace qbx::driver {

struct DriverDescriptor {
  char name[16];  // "QUILLBOX", zero-terminated
  fileaccess::DriverEntryFn entry;
  std::uint32_t operationCount;
  const std::uint8_t* operations;  // the operation codes the driver carries out
  std::uint32_t typeCount;
  const std::uint8_t* types;  // the field type codes it stores
};

// The one descriptor of the driver, in static storage.
const DriverDescriptor& driverDescriptor();

std::span<const std::uint8_t> supportedOperations();
std::span<const std::uint8_t> supportedFieldTypes();

}  // namespace qbx::driver
