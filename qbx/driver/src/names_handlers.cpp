// NAME, SEND "REGISTER" and the entry's own address (code 91).
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

#include "handlers.h"
#include "qbx/driver/driver_descriptor.h"
#include "qbx/driver/driver_entry.h"

namespace qbx::driver {
namespace {

constexpr std::string_view kRegisterCommand = "REGISTER";

// The runtime compares strings as if the shorter were padded with blanks.
bool equalsCommand(std::string_view text, std::string_view command) {
  const std::size_t last = text.find_last_not_of(' ');
  text = last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
  return text == command;
}

std::string decimal(std::uintptr_t value) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  static_cast<void>(ec);
  return std::string(digits, end);
}

}  // namespace

std::int32_t addressResult(const void* address) {
  const auto value = reinterpret_cast<std::uintptr_t>(address);
  if (value > static_cast<std::uintptr_t>(std::numeric_limits<std::int32_t>::max())) return 0;
  return static_cast<std::int32_t>(value);
}

int handleName(DriverCall& call) {
  if (call.file.isOpen() && call.file.def) {
    call.text = call.file.def->name;
  } else {
    // The declared form: every character of a fixed-length name, blanks included.
    call.text = fileaccess::takeText(call.block.name, call.block.nameLength);
  }
  return 0;
}

int handleSend(DriverCall& call) {
  if (equalsCommand(call.a(), kRegisterCommand)) {
    const DriverDescriptor* descriptor = &driverDescriptor();
    call.text = decimal(reinterpret_cast<std::uintptr_t>(descriptor));
    call.numeric = addressResult(descriptor);
    // Asking for the descriptor leaves no state behind on a closed file.
    if (!call.file.isOpen()) call.file.actions |= kDiscardFile;
    return 0;
  }
  // Commands other than REGISTER get the empty reply.
  return 0;
}

int handleEntryAddress(DriverCall& call) {
  call.numeric = addressResult(reinterpret_cast<const void*>(&DriverEntry));
  return 0;
}

}  // namespace qbx::driver
