// convert23: converts a Reelcatalog movie catalogue from the old record
// layout to the new one. See convert23 --help.
#include <span>

#include "convert23/program.h"
#include "qbx/driver/driver_entry.h"

int main(int argc, char** argv) {
  return convert23::runProgram(std::span<const char* const>(argv, static_cast<std::size_t>(argc)),
                               &qbx::driver::DriverEntry);
}
