#include "batch_networks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

#include "batch_analysis.h"
#include "common/output_file.h"
#include "common/provenance.h"
#include "formats/row_writer.h"
#include "lookup/country_ranges.h"
#include "lookup/country_table.h"
#include "lookup/error.h"

namespace ipcountry::batch {

namespace {

using lookup::Address6;
using lookup::CidrBlock;
using lookup::RangeSet;

constexpr std::string_view kSetFormats[] = {"cidr", "nft", "ipset", "nginx", "haproxy"};

// ipset takes names of at most 31 characters, and the script's temporary
// set adds 4 to each.
constexpr std::size_t kLongestSetName = 27;
constexpr std::string_view kTemporarySuffix = "_new";

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void appendHeader(std::string& out, const SetsRequest& request) {
    for (const std::string& line : request.header) out.append("# ").append(line).append("\n");
}

// A line is made in a buffer of its own and appended whole: a set's text is
// hundreds of thousands of short lines, where a string per address or per
// piece would cost more than the rest of the run.
class Line {
public:
    Line& operator<<(std::string_view text) noexcept {
        std::memcpy(m_end, text.data(), text.size());
        m_end += text.size();
        return *this;
    }
    template <class Address>
    Line& operator<<(const CidrBlock<Address>& block) noexcept {
        m_end = lookup::writeCidrText(m_end, block);
        return *this;
    }
    template <class Address>
    Line& address(Address address) noexcept {
        m_end = lookup::writeAddressText(m_end, address);
        return *this;
    }
    void appendTo(std::string& out) const {
        out.append(m_text, static_cast<std::size_t>(m_end - m_text));
    }

private:
    // The longest line: two addresses or a set name (kLongestSetName and its
    // suffix) and a block, with a few words around them.
    char m_text[2 * lookup::kCidrTextRoom + 64];
    char* m_end = m_text;
};

// What the text of `ranges` ranges of a family takes at most, about: a range
// is one or two blocks most often, seldom more; too much costs nothing, the
// pages never touched are never given.
template <class Address>
std::size_t roomFor(std::size_t ranges, std::size_t perLine) {
    constexpr std::size_t kAddress = std::is_same_v<Address, Address6> ? 44 : 19;
    return ranges * 3 * (kAddress + perLine);
}

// The block a range is, when it is one.
template <class Address>
std::optional<CidrBlock<Address>> wholeBlock(const lookup::AddressRange<Address>& range) {
    constexpr int kWidth = lookup::kAddressBits<Address>;
    int host = std::min(lookup::trailingZeros(range.first), kWidth);
    while (host > 0 && lookup::withHostBits(range.first, host) > range.last) --host;
    if (lookup::withHostBits(range.first, host) != range.last) return std::nullopt;
    return CidrBlock<Address>{range.first, kWidth - host};
}

// An element of an nft interval set: one per range, as a block where the
// range is one, else FIRST-LAST.
template <class Address>
void appendNftElement(Line& line, const lookup::AddressRange<Address>& range) {
    if (const auto block = wholeBlock(range))
        line << *block;
    else
        (line.address(range.first) << "-").address(range.last);
}

template <class Address>
void appendNftElements(std::string& out, const std::string& target, const RangeSet<Address>& set) {
    if (set.empty()) return;
    out.reserve(out.size() + roomFor<Address>(set.ranges().size(), 4));
    out.append("add element ").append(target).append(" {");
    std::string_view between = "\n\t";
    for (const auto& range : set.ranges()) {
        Line line;
        line << between;
        appendNftElement(line, range);
        line.appendTo(out);
        between = ",\n\t";
    }
    out += "\n}\n";
}

std::string writeNft(const SetsRequest& request, const std::vector<CountrySets>& countries,
                     const std::vector<std::pair<std::string, int>>& names) {
    std::string out;
    appendHeader(out, request);
    const std::string table = request.tableFamily + " " + request.tableName;
    // Declaring the table and sets adds them where they are missing and
    // leaves them alone where they stand; then each set is flushed and
    // refilled. nft -f runs the file as one transaction, so rules that use
    // the sets never see them empty, and the table is never deleted.
    out += "table " + table + " {\n";
    for (const auto& [name, family] : names) {
        out += "\tset " + name + " {\n\t\ttype " + (family == 4 ? "ipv4_addr" : "ipv6_addr") +
               "\n\t\tflags interval\n\t}\n";
    }
    out += "}\n";
    std::size_t n = 0;
    for (const CountrySets& country : countries) {
        for (const int family : {4, 6}) {
            if ((family == 4 && !request.ipv4) || (family == 6 && !request.ipv6)) continue;
            const std::string target = table + " " + names[n++].first;
            out += "flush set " + target + "\n";
            if (family == 4)
                appendNftElements(out, target, country.ranges4);
            else
                appendNftElements(out, target, country.ranges6);
        }
    }
    return out;
}

// The least maxelem that holds `count` blocks, rounded up so that it changes
// seldom: `create -exist` refuses a set of the same name made with another.
std::size_t maxElements(std::size_t count) {
    std::size_t most = 65536;
    while (most < count) most *= 2;
    return most;
}

template <class Address>
void appendIpset(std::string& out, const std::string& name, const RangeSet<Address>& set) {
    const std::vector<CidrBlock<Address>> blocks = set.cidrBlocks();
    const char* family = std::is_same_v<Address, Address6> ? "inet6" : "inet";
    const std::string temporary = name + std::string(kTemporarySuffix);
    const std::string options = std::string(" hash:net family ") + family + " maxelem " +
                                std::to_string(maxElements(blocks.size())) + " -exist\n";
    // The set is filled apart and swapped in whole: a firewall that uses it
    // sees the old contents or the new ones, never half of them.
    out += "create " + name + options;
    out += "create " + temporary + options;
    out += "flush " + temporary + "\n";
    out.reserve(out.size() + blocks.size() * (temporary.size() + 50));
    for (const auto& block : blocks) {
        Line line;
        line << "add " << temporary << " " << block << "\n";
        line.appendTo(out);
    }
    out += "swap " + temporary + " " + name + "\n";
    out += "destroy " + temporary + "\n";
}

// Every block of the countries with its code, in address order: the lines
// of the nginx geo block (`before` a tab, `after` ";") and of the HAProxy
// map.
template <class Address>
void appendCodedBlocks(std::string& out, const std::vector<CountrySets>& countries,
                       const std::vector<PlacedRange<Address>>& ordered, std::string_view before,
                       std::string_view after) {
    out.reserve(out.size() + roomFor<Address>(ordered.size(), 6));
    for (const PlacedRange<Address>& placed : ordered) {
        const std::string& code = countries[placed.country].code;
        lookup::forEachCidr(placed.range.first, placed.range.last,
                            [&](const CidrBlock<Address>& block) {
                                Line line;
                                line << before << block << " " << code << after << "\n";
                                line.appendTo(out);
                            });
    }
}

// The blocks of the union of the countries' sets, one per line: the
// neighbouring countries' ranges merge.
template <class Address>
void appendUnionBlocks(std::string& out, const std::vector<PlacedRange<Address>>& ordered) {
    std::vector<lookup::AddressRange<Address>> all;
    all.reserve(ordered.size());
    for (const PlacedRange<Address>& placed : ordered) all.push_back(placed.range);
    const RangeSet<Address> set(std::move(all));
    out.reserve(out.size() + roomFor<Address>(set.ranges().size(), 1));
    for (const auto& range : set.ranges())
        lookup::forEachCidr(range.first, range.last, [&](const CidrBlock<Address>& block) {
            Line line;
            line << block << "\n";
            line.appendTo(out);
        });
}

template <class Address>
void placeRanges(const std::vector<lookup::CodedRange<Address>>& ranges,
                 const std::vector<int>& countryOf, std::vector<PlacedRange<Address>>& ordered,
                 std::vector<std::vector<lookup::AddressRange<Address>>>& byCountry) {
    for (const lookup::CodedRange<Address>& range : ranges) {
        const int country = countryOf[range.code];
        if (country < 0) continue;
        const lookup::AddressRange<Address> plain{range.first, range.last};
        ordered.push_back({plain, static_cast<std::size_t>(country)});
        byCountry[static_cast<std::size_t>(country)].push_back(plain);
    }
}

bool nameCharacter(char c, bool first) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
           (!first && std::isdigit(static_cast<unsigned char>(c)));
}

}  // namespace

std::optional<SetFormat> parseSetFormat(std::string_view text) {
    for (std::size_t i = 0; i < std::size(kSetFormats); ++i)
        if (kSetFormats[i] == text) return static_cast<SetFormat>(i);
    return std::nullopt;
}

std::string setName(const SetsRequest& request, std::string_view code, int family,
                    std::string& problem) {
    std::string name;
    const std::string& pattern = request.namePattern;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            name += pattern[i];
            continue;
        }
        const char what = pattern[++i];
        if (what == 'c')
            name += lower(code);
        else if (what == 'f')
            name += std::to_string(family);
        else if (what == '%')
            name += '%';
        else {
            problem =
                "--name knows %c (the code), %f (4 or 6) and %%, not %" + std::string(1, what);
            return {};
        }
    }
    bool good = !name.empty() && name.size() <= kLongestSetName;
    for (std::size_t i = 0; good && i < name.size(); ++i) good = nameCharacter(name[i], i == 0);
    if (!good) {
        problem = "--name '" + pattern + "' gives the set name '" + name +
                  "': a set name is a letter or _ followed by letters, digits and _, at most " +
                  std::to_string(kLongestSetName) + " characters";
        return {};
    }
    return name;
}

NetworkSets sortIntoCountries(const std::vector<std::string>& codes,
                              const std::vector<lookup::CodedRange<std::uint32_t>>& ranges4,
                              const std::vector<lookup::CodedRange<Address6>>& ranges6) {
    NetworkSets sets;
    std::vector<int> countryOf(std::size_t{1} << 16, -1);
    for (const std::string& code : codes) {
        if (code.size() == 2)
            countryOf[lookup::packCode(code)] = static_cast<int>(sets.countries.size());
        sets.countries.push_back({code, {}, {}});
    }
    std::vector<std::vector<lookup::AddressRange<std::uint32_t>>> byCountry4(codes.size());
    std::vector<std::vector<lookup::AddressRange<Address6>>> byCountry6(codes.size());
    placeRanges(ranges4, countryOf, sets.ordered4, byCountry4);
    placeRanges(ranges6, countryOf, sets.ordered6, byCountry6);
    // In address order already: the sets are made without sorting.
    for (std::size_t i = 0; i < codes.size(); ++i) {
        sets.countries[i].ranges4 = RangeSet<std::uint32_t>(std::move(byCountry4[i]));
        sets.countries[i].ranges6 = RangeSet<Address6>(std::move(byCountry6[i]));
    }
    return sets;
}

std::string writeSets(const SetsRequest& request, const NetworkSets& sets) {
    const std::vector<CountrySets>& countries = sets.countries;
    std::vector<std::pair<std::string, int>> names;
    if (request.format == SetFormat::Nft || request.format == SetFormat::Ipset) {
        std::set<std::string> taken;
        for (const CountrySets& country : countries) {
            for (const int family : {4, 6}) {
                if ((family == 4 && !request.ipv4) || (family == 6 && !request.ipv6)) continue;
                std::string problem;
                std::string name = setName(request, country.code, family, problem);
                if (name.empty()) throw std::invalid_argument(problem);
                if (!taken.insert(name).second)
                    throw std::invalid_argument("--name '" + request.namePattern +
                                                "' gives two sets the name '" + name +
                                                "' (%c tells countries apart, %f families)");
                names.emplace_back(std::move(name), family);
            }
        }
    }
    std::string out;
    switch (request.format) {
        case SetFormat::Cidr:
            appendHeader(out, request);
            if (request.ipv4) appendUnionBlocks(out, sets.ordered4);
            if (request.ipv6) appendUnionBlocks(out, sets.ordered6);
            break;
        case SetFormat::Nft:
            out = writeNft(request, countries, names);
            break;
        case SetFormat::Ipset: {
            appendHeader(out, request);
            std::size_t n = 0;
            for (const CountrySets& country : countries) {
                if (request.ipv4) appendIpset(out, names[n++].first, country.ranges4);
                if (request.ipv6) appendIpset(out, names[n++].first, country.ranges6);
            }
            break;
        }
        case SetFormat::Nginx:
            appendHeader(out, request);
            out += "geo $country_code {\n\tdefault \"\";\n";
            if (request.ipv4) appendCodedBlocks(out, countries, sets.ordered4, "\t", ";");
            if (request.ipv6) appendCodedBlocks(out, countries, sets.ordered6, "\t", ";");
            out += "}\n";
            break;
        case SetFormat::Haproxy:
            appendHeader(out, request);
            if (request.ipv4) appendCodedBlocks(out, countries, sets.ordered4, "", "");
            if (request.ipv6) appendCodedBlocks(out, countries, sets.ordered6, "", "");
            break;
    }
    return out;
}

int runNetworks(const Options& options) {
    SetsRequest request;
    const std::string formatText = options.formatText.empty() ? "cidr" : options.formatText;
    const std::optional<SetFormat> format = parseSetFormat(formatText);
    if (!format)
        return usageError(Command::Networks,
                          "networks takes --format cidr, nft, ipset, nginx or "
                          "haproxy, not '" +
                              formatText + "'");
    request.format = *format;
    request.ipv4 = options.family != 6;
    request.ipv6 = options.family != 4;
    if (!options.namePattern.empty()) request.namePattern = options.namePattern;
    if (!options.table.empty()) {
        const std::size_t blank = options.table.find(' ');
        request.tableFamily = options.table.substr(0, blank);
        request.tableName = blank == std::string::npos ? "" : options.table.substr(blank + 1);
        static const std::set<std::string> kFamilies{"ip",  "ip6",    "inet",
                                                     "arp", "bridge", "netdev"};
        bool good = kFamilies.count(request.tableFamily) == 1 && !request.tableName.empty();
        for (std::size_t i = 0; good && i < request.tableName.size(); ++i)
            good = nameCharacter(request.tableName[i], i == 0);
        if (!good)
            return usageError(Command::Networks,
                              "--table takes a family (ip, ip6, inet, arp, bridge or netdev) and "
                              "a name, as 'inet filter', not '" +
                                  options.table + "'");
    }
    if (options.allCountries && !options.operands.empty())
        return usageError(Command::Networks, "--all-countries takes no COUNTRY");
    if (!options.allCountries && options.operands.empty())
        return usageError(Command::Networks, "networks needs a COUNTRY or --all-countries");

    // The admin's own networks stay out of every set.
    const RowChoice choice(options);
    // The countries of the country list, and those the range files give
    // addresses to without the list naming them (find prints their codes
    // too); a code neither knows is a typo. A run for countries of the list
    // reads only their sets.
    const lookup::CountryTable table = lookup::loadCountryTable(options.countriesDir);
    std::set<std::string> known;
    for (int slot = 0; slot < lookup::kSlotCount; ++slot)
        if (table.slotFilled(slot) && lookup::isCountryCode(table.slotCode(slot)))
            known.insert(table.slotCode(slot));
    std::set<std::string> asked;
    bool listedOnly = !options.allCountries;
    for (const std::string& operand : options.operands) {
        asked.insert(upper(operand));
        listedOnly = listedOnly && known.count(upper(operand)) == 1;
    }
    if (!listedOnly) asked.clear();  // every set: the files' own codes count
    std::vector<lookup::CodedRange<std::uint32_t>> ranges4;
    std::vector<lookup::CodedRange<Address6>> ranges6;
    if (request.ipv4) ranges4 = lookup::readCodedRanges4(options.rangesFolder(), asked);
    if (request.ipv6) ranges6 = lookup::readCodedRanges6(options.rangesFolder(), asked);
    // The files' own codes, whether or not --exclude leaves them addresses.
    std::vector<bool> inFiles(std::size_t{1} << 16, false);
    for (const auto& range : ranges4) inFiles[range.code] = true;
    for (const auto& range : ranges6) inFiles[range.code] = true;
    for (std::size_t packed = 0; packed < inFiles.size(); ++packed)
        if (inFiles[packed]) known.insert(lookup::unpackCode(static_cast<std::uint16_t>(packed)));
    ranges4 = lookup::RangeSet4::cutOut(ranges4, choice.excluded().ranges4());
    ranges6 = lookup::RangeSet6::cutOut(ranges6, choice.excluded().ranges6());
    std::vector<std::string> codes;
    if (options.allCountries) codes.assign(known.begin(), known.end());
    for (const std::string& operand : options.operands) {
        const std::string code = upper(operand);
        if (known.count(code) == 0)
            return usageError(Command::Networks,
                              "'" + operand + "' is not a country code of the country list (" +
                                  (options.countriesDir / lookup::kCountryFileName).string() +
                                  ") or the range files");
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
    }
    const NetworkSets sets = sortIntoCountries(codes, ranges4, ranges6);

    std::string what = "ipcountry-batch networks";
    for (const std::string& code : codes) {
        if (options.allCountries) {
            what += " --all-countries";
            break;
        }
        what += " " + code;
    }
    request.header.push_back(what);
    for (std::string& line : provenance::describeRangesSource(options.rangesFolder()))
        request.header.push_back(std::move(line));

    std::string text;
    try {
        text = writeSets(request, sets);
    } catch (const std::invalid_argument& e) {
        return usageError(Command::Networks, e.what());
    }
    if (options.page) {
        if (const auto error = output::writeOutputFile(*options.page, text)) {
            Output::sayNow("ipcountry-batch: " + *options.page + ": " + error->reason + "\n");
            return 1;
        }
        return 0;
    }
    Output out;
    // Written in one piece, without a copy.
    if (out.buffer().empty())
        out.buffer().swap(text);
    else
        out.buffer() += text;
    return 0;
}

}  // namespace ipcountry::batch
