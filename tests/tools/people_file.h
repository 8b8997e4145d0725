// A small table of people written through the driver as a program writes
// one, with a field of most value types: strings of the three kinds, a
// DECIMAL, a GROUP of numbers, a dimensioned LONG and a REAL; a unique key
// on the name, a DUP OPT NOCASE key on city and name, and a DUP key on the
// value, descending.
//
//   offset  field       type
//        0  P:NAME      STRING(20)
//       20  P:CITY      STRING(12)
//       32  P:VALUE     DECIMAL(7,2)
//       36  P:BORN      GROUP: P:YEAR SHORT, P:DAY BYTE, P:MONTH BYTE
//       40  P:SCORES    LONG, DIM(3)
//       52  P:NOTE      CSTRING(10)
//       62  P:TAG       PSTRING(6)
//       68  P:RATIO     REAL
//       76  (end)
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qbx::inspector::testing {

struct Person {
  std::string name;
  std::string city;
  std::int64_t value = 0;  // whole units; stored with two places
  std::int16_t year = 0;
  std::uint8_t day = 0;
  std::uint8_t month = 0;
  std::array<std::int32_t, 3> scores{};
  std::string note;
  std::string tag;
  double ratio = 0;
};

inline constexpr std::uint32_t kPersonLength = 76;

// Five people with a comma, a quote, a blank city and a negative value
// among them.
std::vector<Person> samplePeople();

// Writes the people into the table (a name of FILE or FILE\!TABLE; an
// existing table of that name is replaced) by CREATE, OPEN, ADD of each and
// CLOSE: 0 or the first error posted. With a password the file is
// encrypted.
int writePeople(const std::string& name, const std::vector<Person>& people,
                const std::string& password = {});

// Opens the table for writing, streamed, adds the people and prepares the
// commit without finishing it, for a child process that then dies: the file
// is left with a complete pending log. 0 or the first error.
int addPeopleWithoutFinishing(const std::string& name, const std::vector<Person>& people);

}  // namespace qbx::inspector::testing
