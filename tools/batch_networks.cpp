#include "batch_networks.h"

#include <algorithm>
#include <cctype>
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

template <class Address>
const RangeSet<Address>& setOf(const CountrySets& country) {
    if constexpr (std::is_same_v<Address, Address6>)
        return country.ranges6;
    else
        return country.ranges4;
}

void appendHeader(std::string& out, const SetsRequest& request) {
    for (const std::string& line : request.header) out += "# " + line + "\n";
}

// An element of an nft interval set: one per range, as a block where the
// range is one, else FIRST-LAST.
template <class Address>
std::string nftElement(const lookup::AddressRange<Address>& range) {
    std::string text;
    int blocks = 0;
    lookup::forEachCidr(range.first, range.last, [&](const CidrBlock<Address>& block) {
        if (++blocks == 1) text = lookup::cidrText(block);
    });
    if (blocks > 1) text = lookup::addressText(range.first) + "-" + lookup::addressText(range.last);
    return text;
}

template <class Address>
void appendNftElements(std::string& out, const std::string& target, const RangeSet<Address>& set) {
    if (set.empty()) return;
    out += "add element " + target + " {";
    const char* between = "\n\t";
    for (const auto& range : set.ranges()) {
        out += between;
        out += nftElement(range);
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
    for (const auto& block : blocks)
        out += "add " + temporary + " " + lookup::cidrText(block) + "\n";
    out += "swap " + temporary + " " + name + "\n";
    out += "destroy " + temporary + "\n";
}

// Every block of the countries with its code, in address order: the lines
// of the nginx geo block and of the HAProxy map. The codes point into
// `countries`: half a million strings would cost more to sort than the blocks.
template <class Address>
std::vector<std::pair<CidrBlock<Address>, const std::string*>> codedBlocks(
    const std::vector<CountrySets>& countries) {
    std::vector<std::pair<CidrBlock<Address>, const std::string*>> out;
    for (const CountrySets& country : countries)
        for (const auto& block : setOf<Address>(country).cidrBlocks())
            out.emplace_back(block, &country.code);
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first.address < b.first.address; });
    return out;
}

template <class Address>
std::vector<CidrBlock<Address>> unionBlocks(const std::vector<CountrySets>& countries) {
    std::vector<lookup::AddressRange<Address>> all;
    for (const CountrySets& country : countries) {
        const auto& ranges = setOf<Address>(country).ranges();
        all.insert(all.end(), ranges.begin(), ranges.end());
    }
    return RangeSet<Address>(std::move(all)).cidrBlocks();
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

std::string writeSets(const SetsRequest& request, const std::vector<CountrySets>& countries) {
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
            if (request.ipv4)
                for (const auto& block : unionBlocks<std::uint32_t>(countries))
                    out += lookup::cidrText(block) + "\n";
            if (request.ipv6)
                for (const auto& block : unionBlocks<Address6>(countries))
                    out += lookup::cidrText(block) + "\n";
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
            if (request.ipv4)
                for (const auto& [block, code] : codedBlocks<std::uint32_t>(countries))
                    out.append("\t")
                        .append(lookup::cidrText(block))
                        .append(" ")
                        .append(*code)
                        .append(";\n");
            if (request.ipv6)
                for (const auto& [block, code] : codedBlocks<Address6>(countries))
                    out.append("\t")
                        .append(lookup::cidrText(block))
                        .append(" ")
                        .append(*code)
                        .append(";\n");
            out += "}\n";
            break;
        case SetFormat::Haproxy:
            appendHeader(out, request);
            if (request.ipv4)
                for (const auto& [block, code] : codedBlocks<std::uint32_t>(countries))
                    out.append(lookup::cidrText(block)).append(" ").append(*code).append("\n");
            if (request.ipv6)
                for (const auto& [block, code] : codedBlocks<Address6>(countries))
                    out.append(lookup::cidrText(block)).append(" ").append(*code).append("\n");
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
    lookup::CountryRangeSets<std::uint32_t> ranges4;
    lookup::CountryRangeSets<Address6> ranges6;
    if (request.ipv4) ranges4 = lookup::readCountryRanges4(options.rangesFolder(), asked);
    if (request.ipv6) ranges6 = lookup::readCountryRanges6(options.rangesFolder(), asked);
    for (const auto& entry : ranges4) known.insert(entry.first);
    for (const auto& entry : ranges6) known.insert(entry.first);
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
    std::vector<CountrySets> countries;
    for (const std::string& code : codes) {
        CountrySets country{code, {}, {}};
        if (const auto it = ranges4.find(code); it != ranges4.end())
            country.ranges4 = it->second.minus(choice.excluded().ranges4());
        if (const auto it = ranges6.find(code); it != ranges6.end())
            country.ranges6 = it->second.minus(choice.excluded().ranges6());
        countries.push_back(std::move(country));
    }

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
        text = writeSets(request, countries);
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
    out.buffer() += text;
    return 0;
}

}  // namespace ipcountry::batch
