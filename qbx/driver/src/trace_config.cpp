// Trace configuration: the profile section read at attach, the driver option
// that allows details on encrypted files, and the trace properties.
#include <algorithm>

#include "platform/profile.h"
#include "qbx/driver/trace_log.h"
#include "qbx/records/format.h"

namespace qbx::driver {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isAllowDetails(std::string_view option) {
  option = trimmed(option);
  if (option.size() != kAllowDetailsOption.size()) return false;
  for (std::size_t i = 0; i < option.size(); ++i) {
    char c = option[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != kAllowDetailsOption[i]) return false;
  }
  return true;
}

std::string cutName(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), kMaxTraceFileName)));
}

}  // namespace

bool allowsDetails(std::string_view options) {
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i] == '"') {
      quoted = !quoted;
    } else if (options[i] == '/' && !quoted) {
      if (isAllowDetails(options.substr(start, i - start))) return true;
      start = i + 1;
    }
  }
  return isAllowDetails(options.substr(start));
}

bool isEncrypted(const records::QbxTableDef& table) {
  return (table.attributes & records::kTableEncrypt) != 0 ||
         (table.owner.has_value() && !table.owner->empty());
}

TraceSettings readTraceSettings(const records::QbxTableDef& table) {
  TraceSettings settings;
  const platform::Profile profile = platform::Profile::load(platform::profilePath());
  const std::string* on = profile.find(kTraceSection, kTraceProfileKey);
  if (on == nullptr || platform::profileIntFromText(*on) == 0) return settings;
  settings.traceOn = true;

  const std::string* file = profile.find(kTraceSection, kTraceFileKey);
  settings.fileName = cutName(file == nullptr || file->empty() ? kDefaultTraceFile : *file);

  const bool allowed =
      !isEncrypted(table) || (table.driverOptions && allowsDetails(*table.driverOptions));
  if (allowed) {
    const std::string* details = profile.find(kTraceSection, kTraceDetailsKey);
    settings.detailsOn = details != nullptr && platform::profileIntFromText(*details) != 0;
    settings.detailsFromProfile = settings.detailsOn;
  }
  return settings;
}

void setTraceFileProperty(TraceSettings& settings, std::string_view value) {
  settings.traceOn = !value.empty();
  settings.fileName = cutName(value);
}

std::string traceFileProperty(const TraceSettings& settings) {
  return settings.traceOn ? settings.fileName : std::string();
}

void setDetailsProperty(TraceSettings& settings, std::string_view value) {
  value = trimmed(value);
  if (!value.empty() && (value.front() == '-' || value.front() == '+')) value.remove_prefix(1);
  // Any non-zero digit among the leading digits makes the number non-zero.
  bool nonZero = false;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    if (c != '0') nonZero = true;
  }
  settings.detailsOn = nonZero;
  settings.detailsFromProfile = false;
}

std::string detailsProperty(const TraceSettings& settings) { return settings.detailsOn ? "1" : ""; }

}  // namespace qbx::driver
