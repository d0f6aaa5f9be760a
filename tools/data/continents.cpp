#include "continents.h"

#include <array>
#include <utility>

namespace ipcountry::data {
namespace {

// Each continent with its countries, as geographers usually group them: the
// Caribbean and Central America with North America, the Caucasus and Turkey
// with Asia, Cyprus with Europe, the Russian Federation with Europe, the
// islands of the Pacific with Oceania, the southern islands with Antarctica.
constexpr std::array<std::pair<Continent, std::string_view>, 7> kContinents{{
    {{"AF", "Africa"},
     "AO BF BI BJ BW CD CF CG CI CM CV DJ DZ EG EH ER ET GA GH GM GN GQ GW KE KM LR LS LY MA "
     "MG ML MR MU MW MZ NA NE NG RE RW SC SD SH SL SN SO SS ST SZ TD TG TN TZ UG YT ZA ZM ZW"},
    {{"AN", "Antarctica"}, "AQ BV GS HM TF"},
    {{"AS", "Asia"},
     "AE AF AM AZ BD BH BN BT CC CN CX GE HK ID IL IN IO IQ IR JO JP KG KH KP KR KW KZ LA LB "
     "LK MM MN MO MV MY NP OM PH PK PS QA SA SG SY TH TJ TL TM TR TW UZ VN YE"},
    {{"EU", "Europe"},
     "AD AL AT AX BA BE BG BY CH CY CZ DE DK EE ES FI FO FR GB GG GI GR HR HU IE IM IS IT JE "
     "LI LT LU LV MC MD ME MK MT NL NO PL PT RO RS RU SE SI SJ SK SM UA VA XK"},
    {{"NA", "North America"},
     "AG AI AW BB BL BM BQ BS BZ CA CR CU CW DM DO GD GL GP GT HN HT JM KN KY LC MF MQ MS MX "
     "NI PA PM PR SV SX TC TT US VC VG VI"},
    {{"OC", "Oceania"},
     "AS AU CK FJ FM GU KI MH MP NC NF NR NU NZ PF PG PN PW SB TK TO TV UM VU WF WS"},
    {{"SA", "South America"}, "AR BO BR CL CO EC FK GF GY PE PY SR UY VE"},
}};

}  // namespace

std::optional<Continent> continentOf(std::string_view countryCode) {
    if (countryCode.size() != 2) return std::nullopt;
    for (const auto& [continent, codes] : kContinents)
        for (std::size_t i = 0; i + 2 <= codes.size(); i += 3)
            if (codes.substr(i, 2) == countryCode) return continent;
    return std::nullopt;
}

}  // namespace ipcountry::data
