// qbx-sample: writes a sample movie catalogue, or counts the records of
// catalogue files. See qbx-sample --help.
#include <span>

#include "qbx/driver/driver_entry.h"
#include "qbx/sample/sample_program.h"

int main(int argc, char** argv) {
  return qbx::sample::runSampleProgram(
      std::span<const char* const>(argv, static_cast<std::size_t>(argc)),
      &qbx::driver::DriverEntry);
}
