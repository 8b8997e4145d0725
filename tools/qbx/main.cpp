// qbx: looks into, dumps, checks and generates QBX files. See qbx --help.
#include <cstdio>
#include <span>

#include "qbx/inspector/program.h"

int main(int argc, char** argv) {
  return qbx::inspector::runInspector(
      std::span<const char* const>(argv, static_cast<std::size_t>(argc)), stdout, stderr);
}
