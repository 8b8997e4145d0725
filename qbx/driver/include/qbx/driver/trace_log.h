// The driver's trace log: one line per operation on a file with the
// operation, the file, the key, the outcome and the time taken; with details
// on, also the file's declaration (once per declared file and run) and the
// record's field values after record operations.
//
// Configuration comes from the profile section "RDQUILLBOX" (platform/profile.h)
// when a QbxFile is attached:
//   Profile    integer, 0    non-zero: trace this file
//   TraceFile  text, "QUILLBOX.LOG" (also when empty), at most 260 characters;
//              a relative name is relative to the current directory
//   Details    integer, 0    non-zero: write details
// TraceFile and Details are read only when Profile is non-zero. For an
// encrypted file (the ENCRYPT attribute, or an owner text, which is what
// enciphers the file's blocks) Details is taken only when the driver option
// text carries the option ALLOWDETAILS, so that configuration alone never
// puts the contents of an encrypted file into the log.
//
// The log is plain text with CR LF line ends. Each call opens it (writing,
// sharing with every other program, created when missing), appends at its
// end under a short lock so that programs tracing into one log do not write
// over each other's lines, and closes it again. Nothing about the log is ever
// reported: when it cannot be opened or written, nothing is written and the
// operation's result, the error state and errno stay as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "qbx/records/table_def.h"

namespace qbx::driver {

inline constexpr std::string_view kTraceSection = "RDQUILLBOX";
inline constexpr std::string_view kTraceProfileKey = "Profile";
inline constexpr std::string_view kTraceFileKey = "TraceFile";
inline constexpr std::string_view kTraceDetailsKey = "Details";
inline constexpr std::string_view kDefaultTraceFile = "QUILLBOX.LOG";
inline constexpr std::size_t kMaxTraceFileName = 260;
// The driver option that lets configuration switch details on for an
// encrypted file.
inline constexpr std::string_view kAllowDetailsOption = "ALLOWDETAILS";

// The trace members of a QbxFile.
struct TraceSettings {
  bool traceOn = false;
  bool detailsOn = false;
  // detailsOn came from the profile, not from the program (property 29481):
  // such details are dropped while the file is encrypted without
  // ALLOWDETAILS, also when the owner text was set after the attach.
  bool detailsFromProfile = false;
  std::string fileName;  // the log file; meaningful while traceOn
};

// True when one of the "/"-separated options of the driver option text is
// ALLOWDETAILS (letter case aside; blanks around an option do not count; a
// stretch in double quotes is part of its option, "/" included).
bool allowsDetails(std::string_view driverOptions);

// The ENCRYPT attribute or an owner text.
bool isEncrypted(const records::QbxTableDef& table);

// The settings of a file being attached, from the profile file.
TraceSettings readTraceSettings(const records::QbxTableDef& table);

// ---- properties ----------------------------------------------------------------

// 29443 set: a non-empty value switches tracing on into that file (cut to
// 260 characters); an empty one switches it off and forgets the name.
void setTraceFileProperty(TraceSettings& settings, std::string_view value);
// 29443 read: the log file's name while tracing is on, else empty.
std::string traceFileProperty(const TraceSettings& settings);
// 29481 set: details on when the value is a non-zero number (optional sign
// and leading digits; anything else reads as 0).
void setDetailsProperty(TraceSettings& settings, std::string_view value);
// 29481 read: "1" while details are on, else empty.
std::string detailsProperty(const TraceSettings& settings);
// 29442: while tracing is on, appends text and CR LF to the log.
void writeTraceText(const TraceSettings& settings, std::string_view text) noexcept;

// ---- one traced call -------------------------------------------------------------

// What the driver entry has at the end of a call.
struct TraceCall {
  int code = 0;                                 // the DriverOp code
  const records::QbxTableDef* table = nullptr;  // the file; nothing is written without one
  const records::QbxKeyDef* key = nullptr;      // the key argument, or null
  int result = 0;            // the result so far: 0, an error code, or -1 for a silent refusal
  std::int64_t elapsed = 0;  // time taken, hundredths of a second (taken before tracing)
  // The driver's text of an error 90; empty: the error state's driver error text.
  std::string_view driverErrorText;
  // The file's label for the declaration; empty: the file's name.
  std::string_view fileLabel;
  // Values of the memos, by memo position (a blob's bytes, which live outside
  // the memo buffer). Memos past the end of the span show their memo buffer;
  // blobs past it show nothing.
  std::span<const std::span<const std::uint8_t>> memoValues;
  // The calling thread's number; 0: the log's own numbering (1 for the
  // program's first thread, then 2, 3 ... in order of first trace).
  int threadNumber = 0;
};

// Writes the trace of one call: nothing for codes 87 and 91 or a file without
// a name; else (details on) the declaration when this declared file has not
// had it written in this run, the line, and (details on) the record after the
// record operations or the key values after SETkeykey and SETkeykeyptr.
void writeTrace(const TraceSettings& settings, const TraceCall& call) noexcept;

// ---- text forms (the pieces writeTrace writes) ---------------------------------

// "NEXT(cat.rcx 1)   Error: Record Not Available Time Taken: 0.03 secs\r\n".
std::string traceLineText(const TraceCall& call);

// The value of a field in the record, as the record dump writes it. Fixed
// length texts are taken by their length: a STRING its size, a CSTRING up to
// its zero byte or its size, a PSTRING its length byte clamped to the field.
// A dimensioned field shows its first element. A field that does not lie
// inside the record shows nothing.
std::string fieldValueText(const records::QbxFieldDef& field, std::span<const std::uint8_t> record);

// The memos as hex dumps and every field's value, ending in an empty line.
std::string recordDumpText(const records::QbxTableDef& table, std::span<const std::uint8_t> record,
                           std::span<const std::span<const std::uint8_t>> memoValues = {});

// The key's component fields with their values, ending in an empty line.
std::string keyValuesText(const records::QbxTableDef& table, const records::QbxKeyDef& key,
                          std::span<const std::uint8_t> record);

}  // namespace qbx::driver
