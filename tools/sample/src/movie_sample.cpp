#include "qbx/sample/movie_sample.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "fileaccess/field_desc.h"
#include "fileaccess/stored_values.h"
#include "platform/endian.h"

namespace qbx::sample {

namespace {

template <std::size_t N>
using Words = std::array<std::string_view, N>;

constexpr Words<28> kAdjectives = {
    "Last",     "Silent", "Dark",    "Golden",   "Broken",   "Lost",    "Hidden",
    "Wild",     "Final",  "Secret",  "Burning",  "Frozen",   "Crimson", "Endless",
    "Lonely",   "Savage", "Distant", "Electric", "Midnight", "Scarlet", "Empty",
    "Restless", "Sweet",  "Bitter",  "Eternal",  "Northern", "Long",    "Quiet"};

constexpr Words<34> kNouns = {
    "Summer",    "River",    "Highway",  "Kingdom", "Stranger",   "Harbor",  "Witness",
    "Garden",    "Frontier", "Empire",   "Shadow",  "Horizon",    "Voyage",  "Station",
    "Island",    "Promise",  "Mountain", "Letter",  "Storm",      "Desert",  "Circus",
    "Detective", "Dragon",   "Gambler",  "Orchard", "Lighthouse", "Winter",  "Train",
    "Mirror",    "Canyon",   "Ballroom", "Planet",  "Outlaw",     "Symphony"};

constexpr Words<12> kPlaces = {"Paris",  "Chicago",  "Tokyo",  "Casablanca", "Berlin", "Texas",
                               "Monaco", "Brooklyn", "Havana", "Rome",       "Alaska", "Shanghai"};

constexpr Words<16> kGenres = {"Drama",     "Comedy",  "Action",    "Science Fiction",
                               "Horror",    "Western", "Thriller",  "Documentary",
                               "Animation", "Musical", "Romance",   "Family",
                               "War",       "Mystery", "Film Noir", "Adventure"};

constexpr Words<40> kFirstNames = {
    "James",   "Mary",   "Robert",  "Patricia", "John",     "Linda",     "Michael", "Barbara",
    "David",   "Susan",  "Richard", "Jessica",  "Joseph",   "Sarah",     "Thomas",  "Karen",
    "Charles", "Nancy",  "Grace",   "Audrey",   "Humphrey", "Ingrid",    "Cary",    "Katharine",
    "Marlon",  "Sophia", "Gene",    "Lauren",   "Orson",    "Rita",      "Jack",    "Meryl",
    "Denzel",  "Julia",  "Kevin",   "Emma",     "Harrison", "Sigourney", "Ren\xE9", "Zo\xEB"};

constexpr Words<40> kLastNames = {
    "Smith",    "Johnson", "Williams", "Brown",    "Jones",  "Miller",  "Davis",     "Wilson",
    "Anderson", "Taylor",  "Thomas",   "Moore",    "Martin", "Jackson", "Thompson",  "White",
    "Harris",   "Clark",   "Lewis",    "Walker",   "Hall",   "Young",   "King",      "Wright",
    "Hill",     "Scott",   "Green",    "Baker",    "Adams",  "Nelson",  "Carter",    "Mitchell",
    "Roberts",  "Turner",  "Phillips", "Campbell", "Parker", "Evans",   "M\xFCller", "Dubois"};

constexpr Words<14> kStudios = {
    "Starlight Pictures", "Meridian Films",       "Blue Harbor Studios", "Silver Screen Co.",
    "Northlight",         "Redwood Productions",  "Orion Gate",          "Lantern House",
    "Pinnacle Films",     "Cobalt Entertainment", "Summit Road",         "Kestrel Studios",
    "Goldleaf",           "Independent"};

constexpr Words<6> kReviews = {"Excellent", "Very Good", "Good", "Fair", "Poor", "Must See"};
constexpr Words<6> kRatings = {"G", "PG", "PG-13", "R", "NC-17", "NR"};
constexpr Words<6> kConditions = {"Mint", "Excellent",      "Good",
                                  "Worn", "Tape stretched", "Case cracked"};
constexpr Words<5> kMedia = {"VHS", "DVD", "Laserdisc", "Blu-ray", "Betamax"};
constexpr Words<5> kEditions = {"Widescreen", "Director's Cut", "Collector's Edition",
                                "Special Edition", "Boxed set"};
constexpr Words<6> kRooms = {"Living room", "Den", "Basement", "Bedroom", "Attic", "Office"};
constexpr Words<8> kPlots = {"a stranger arrives in a small town with a secret",
                             "two old friends plan one last job",
                             "a family holiday goes badly wrong",
                             "a detective follows a trail nobody else can see",
                             "an unlikely pair crosses the country",
                             "a singer gets the break of a lifetime",
                             "the crew of a ship fights to get home",
                             "a young woman inherits a house with a past"};

constexpr Words<5> kSequels = {" II", " III", " 2", ": The Return", " Part 2"};

// Days counted the catalogue's way (day 1 is 28 December 1800): 1 January
// 1995 is day 71,714.
constexpr std::int32_t kFirstCatalogueDay = 71714;
constexpr std::int32_t kCatalogueDays = 11 * 365;
// Times in hundredths of a second since midnight, plus one.
constexpr std::int32_t kHundredthsPerDay = 8'640'000;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A date as the catalogue's text fields hold it: mm/dd/yyyy.
std::string dateText(std::uint32_t month, std::uint32_t day, std::uint32_t year) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u/%02u/%04u", month, day, year);
  return text;
}

class RecordWriter {
 public:
  explicit RecordWriter(convert23::CatalogueFile& file) : file_(file), record_(file.record()) {}

  void text(std::string_view name, std::string_view value) {
    if (const fileaccess::FieldEntry* entry = file_.field(name)) {
      const auto bytes = reinterpret_cast<const std::uint8_t*>(value.data());
      fileaccess::assignString(record_.subspan(entry->offset, entry->size),
                               std::span<const std::uint8_t>(bytes, value.size()));
    }
  }

  void number(std::string_view name, std::int32_t value) {
    const fileaccess::FieldEntry* entry = file_.field(name);
    if (entry == nullptr) return;
    const auto field = record_.subspan(entry->offset, entry->size);
    if (entry->type == fileaccess::kTypeDecimal) {
      static_cast<void>(fileaccess::storeDecimal(field, value, entry->places));
    } else if (entry->size == 4) {
      platform::storeLe32(field, 0, static_cast<std::uint32_t>(value));
    } else if (entry->size == 1) {
      field[0] = static_cast<std::uint8_t>(value);
    }
  }

 private:
  convert23::CatalogueFile& file_;
  std::span<std::uint8_t> record_;
};

}  // namespace

MovieSample::MovieSample(std::uint64_t seed) : state_(seed) {}

std::uint64_t MovieSample::next() {
  // splitmix64: the same sequence on every platform and compiler.
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint32_t MovieSample::below(std::uint32_t bound) {
  return static_cast<std::uint32_t>(next() % bound);
}

void MovieSample::fillNext(convert23::CatalogueFile& file) {
  file.clearRecord();
  RecordWriter out(file);
  ++made_;

  const auto pick = [this](const auto& words) -> std::string_view {
    return words[below(static_cast<std::uint32_t>(std::size(words)))];
  };
  const auto date = [this](std::uint32_t firstYear, std::uint32_t years) {
    const std::uint32_t year = firstYear + below(years);
    const std::uint32_t month = 1 + below(12);
    const std::uint32_t day = 1 + below(28);
    return dateText(month, day, year);
  };
  const auto name = [&] {
    // One draw per statement: the order of the draws is the file's content.
    std::string full(pick(kFirstNames));
    full += ' ';
    full += pick(kLastNames);
    return full;
  };

  // Titles come from a few thousand combinations, so a large catalogue holds
  // the same title several times (remakes, a second copy), some sequels, and
  // titles typed in other cases.
  std::string title;
  const std::string adjective(pick(kAdjectives));
  const std::string noun(pick(kNouns));
  switch (below(6)) {
    case 0:
      title = "The " + adjective + " " + noun;
      break;
    case 1:
      title = noun + " of the " + std::string(pick(kNouns));
      break;
    case 2:
      title = std::string(pick(kLastNames)) + "'s " + noun;
      break;
    case 3:
      title = adjective + " " + noun + "s";
      break;
    case 4:
      title = noun + " in " + std::string(pick(kPlaces));
      break;
    default:
      title = "A " + adjective + " " + noun;
      break;
  }
  if (percent(8)) title += pick(kSequels);
  const std::uint32_t titleCase = below(100);
  if (titleCase < 4) {
    title = upper(title);
  } else if (titleCase < 7) {
    title = lower(title);
  }
  out.text("TITLE", title);
  std::string titleKey = upper(title);
  for (const std::string_view article : {"THE ", "A "}) {
    if (titleKey.starts_with(article)) titleKey.erase(0, article.size());
  }
  out.text("TITLEKEY", titleKey);

  const std::string_view genre = percent(3) ? "" : pick(kGenres);
  out.text("CATEGORY", genre);

  const std::string star1 = percent(4) ? "" : name();
  const std::string star2 = star1.empty() || percent(20) ? "" : name();
  const std::string star3 = star2.empty() || percent(35) ? "" : name();
  out.text("STAR1", star1);
  out.text("STAR2", star2);
  out.text("STAR3", star3);
  out.text("STARKEY", upper(star1));
  out.text("STAR2KEY", upper(star2));
  out.text("STAR3KEY", upper(star3));
  out.number("LISTBYSTARS", star1.empty() ? 0 : static_cast<std::int32_t>(below(2)));

  out.text("REVIEW", percent(25) ? "" : pick(kReviews));
  const std::uint32_t minutes = 70 + below(110);
  if (!percent(10)) {
    // Typed by hand over the years, in more than one form.
    char length[32];
    if (percent(60)) {
      std::snprintf(length, sizeof length, "%u min", minutes);
    } else {
      std::snprintf(length, sizeof length, "%u hr %u min", minutes / 60, minutes % 60);
    }
    out.text("LENGTH", length);
  }

  // The value in whole currency units; blank (zero) for a good part of the
  // collection, a few collector's pieces far above the rest.
  std::int32_t value = 0;
  if (!percent(15)) {
    value = percent(2) ? static_cast<std::int32_t>(250 + below(2250))
                       : static_cast<std::int32_t>(3 + below(60));
  }
  out.number("VALUE", value);

  if (!percent(30)) {
    std::string location;
    switch (below(3)) {
      case 0:
        location = "Shelf ";
        location += static_cast<char>('A' + below(8));
        location += std::to_string(1 + below(12));
        break;
      case 1:
        location = "Box " + std::to_string(1 + below(40));
        break;
      default:
        location = std::string(pick(kRooms));
        break;
    }
    out.text("LOCATION", location);
  }

  const std::uint32_t year = 1930 + below(76);
  if (!percent(40)) {
    out.text("COPYDATE", date(1985, 21));
  }
  out.text("CONDITION", percent(35) ? "" : pick(kConditions));
  out.text("CUSTOM1", percent(20) ? "" : pick(kMedia));
  out.text("CUSTOM2", percent(85) ? "" : pick(kEditions));
  out.text("PRODUCER", percent(30) ? "" : pick(kStudios));
  out.text("DIRECTOR", percent(5) ? "" : name());
  out.text("RATING", percent(12) ? "" : pick(kRatings));

  if (percent(8)) {
    out.text("LENTTO", name());
    out.text("DATELENT", date(2000, 6));
  }
  if (percent(30)) {
    char cover[64];
    std::snprintf(cover, sizeof cover, "C:\\REELCAT\\COVERS\\%07u.BMP", made_);
    out.text("GRAPHICFILE", cover);
  }
  out.number("DELETED", percent(1) ? 1 : 0);

  const auto created = kFirstCatalogueDay + static_cast<std::int32_t>(below(kCatalogueDays));
  const auto createdTime = 1 + static_cast<std::int32_t>(below(kHundredthsPerDay));
  out.number("CREATEDDATE", created);
  out.number("CREATEDTIME", createdTime);
  if (percent(40)) {
    out.number("CHANGEDDATE", created + static_cast<std::int32_t>(below(900)));
    out.number("CHANGEDTIME", 1 + static_cast<std::int32_t>(below(kHundredthsPerDay)));
  } else {
    out.number("CHANGEDDATE", created);
    out.number("CHANGEDTIME", createdTime);
  }

  if (!percent(20)) {
    std::string contents = std::to_string(year) + " " +
                           (genre.empty() ? std::string("feature") : lower(genre)) + ": " +
                           std::string(pick(kPlots)) + ".";
    if (percent(30)) {
      contents += " Filmed in " + std::string(pick(kPlaces)) + ".";
    }
    if (!genre.empty() && percent(25)) contents += " Nominated for three awards.";
    out.text("CONTENTS", contents);
  }
  if (!star1.empty()) {
    std::string cast = star1;
    for (const std::string* star : {&star2, &star3}) {
      if (!star->empty()) cast += ", " + *star;
    }
    const std::uint32_t more = below(6);
    for (std::uint32_t i = 0; i < more; ++i) cast += ", " + name();
    out.text("CAST", cast);
  }
}

}  // namespace qbx::sample
