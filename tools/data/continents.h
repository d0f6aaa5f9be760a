// The continent of each country code, for the databases that name one
// (GoAccess and other readers of country databases show continents).
#pragma once

#include <optional>
#include <string_view>

namespace ipcountry::data {

struct Continent {
    std::string_view code;  // AF, AN, AS, EU, NA, OC or SA
    std::string_view name;  // in English
};

// The continent of a two-letter country code, upper case; none for a code
// the table does not know (ZZ, EU, AP and other codes of no one country).
std::optional<Continent> continentOf(std::string_view countryCode);

}  // namespace ipcountry::data
