// Reading one field of a record image by the table's stored definition.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "qbx/definition.h"

namespace qbx {

struct FieldValue {
  enum class Kind {
    kText,     // STRING, CSTRING, PSTRING: text in the program's code page
    kInteger,  // BYTE, SHORT, USHORT, LONG, ULONG: integer holds it
    kReal,     // SREAL, REAL: real holds it
    kDecimal,  // DECIMAL, PDECIMAL: text holds the decimal text ("-5.00")
    kDate,     // text "YYYY-MM-DD", integer the stored number
    kTime,     // text "HH:MM:SS.hh", integer the stored number
    kInvalid,  // bytes the type cannot hold (a bad digit, a date out of
               // range); text shows what is there
    kGroup,    // a GROUP: read its member fields instead
  };
  Kind kind = Kind::kText;
  // Every kind has a text form: strings without their trailing blanks,
  // numbers in decimal, reals in the shortest form that reads back exactly.
  std::string text;
  std::int64_t integer = 0;
  double real = 0;

  // A number that can be written unquoted (JSON, CSV): integers, finite
  // reals and well-formed decimals.
  bool isNumber() const;
};

// The value of element `element` of field `field` of the record image. An
// image shorter than the definition's record length, a field index out of
// range or an element beyond the field's count give kInvalid with an empty
// text; nothing outside the image is read.
FieldValue decodeField(const TableDefinition& definition, std::size_t field,
                       std::span<const std::uint8_t> record, std::uint32_t element = 0);

}  // namespace qbx
