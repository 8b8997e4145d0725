// Writing texts from a file onto standard output: the program code page of
// stored strings (Windows-1252) as UTF-8, JSON strings, CSV fields, and
// names shown in text lines with their control characters made visible.
#pragma once

#include <string>
#include <string_view>

namespace qbx::inspector {

// Appends a code-page text as UTF-8 (bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D,
// which the code page leaves undefined, become the control characters of
// the same number).
void appendUtf8(std::string& out, std::string_view codePageText);

// Appends a code-page text as a quoted JSON string.
void appendJsonString(std::string& out, std::string_view codePageText);

// Appends a UTF-8 text as one CSV field, quoted when it holds a comma, a
// quote, a line end, or blanks at either end.
void appendCsvField(std::string& out, std::string_view utf8);

// A code-page text for a text line: UTF-8, control characters and the
// backslash as \xHH.
std::string printable(std::string_view codePageText);

}  // namespace qbx::inspector
