#include "batch_options.h"

#include <array>
#include <iostream>
#include <system_error>

#include "analysis/ordered_pipeline.h"
#include "lookup/as_file.h"

namespace ipcountry::batch {

namespace {

struct CommandRow {
    Command command;
    std::string_view name;
    unsigned bit;
    std::string_view operands;  // as the synopsis writes them
    // The Commands section of the whole help: its lines, indented.
    std::string_view summary;
    // A command's own help, after its synopsis.
    std::string_view description;
};

constexpr std::array<CommandRow, 6> kCommands{{
    {Command::Find, "find", kFindBit, "ADDRESS...",
     "  find ADDRESS...     print each ADDRESS with its country code and country\n"
     "                      name, one line each in the order given; an ADDRESS of\n"
     "                      - reads one address per line from standard input\n",
     "Print each ADDRESS with its country code and country name, one row each, in\n"
     "the order given. An ADDRESS is IPv4 (1.2.3.4) or IPv6 (2001:db8::1, in brackets\n"
     "or not, with a zone or not); an operand that begins with - goes after --.\n"
     "\n"
     "An ADDRESS of - reads one address per line from standard input and writes\n"
     "exactly one row per line, in order, so that `paste` lines the answers up with\n"
     "the input: a line that is not an address still gets its row, the line as\n"
     "written with an empty code and country (json: null), and its reason goes to\n"
     "standard error as ipcountry-batch: -:LINE: reason. Blanks around an address\n"
     "are no part of it. Lines end with LF, CR LF or CR; standard input may be\n"
     "gzip, bzip2, xz or zstd.\n"},
    {Command::Formatted, "formatted", kFormattedBit, "FILE...",
     "  formatted FILE...   resolve lists of one address:port per line\n",
     "Resolve lists of one address:port per line ([address]:port for IPv6) and\n"
     "print one row per address: IP, Port, Country. Several FILEs are read in the\n"
     "order given, as if they were one; a FILE may be gzip, bzip2, xz or zstd, and\n"
     "- reads standard input, once. A line that names no address is reported with\n"
     "its line number and reason, and the list read on.\n"},
    {Command::Unformatted, "unformatted", kUnformattedBit, "FILE...",
     "  unformatted FILE...\n"
     "                      resolve every address found anywhere in texts\n"
     "                      (both print one row per address: IP, Port, Country;\n"
     "                      several FILEs are read in the order given, as if they\n"
     "                      were one; a FILE may be gzip, bzip2, xz or zstd, and\n"
     "                      - reads standard input, once)\n",
     "Resolve every IPv4 and IPv6 address found anywhere in texts such as logs,\n"
     "with the port right behind it, and print one row per address: IP, Port,\n"
     "Country. Several FILEs are read in the order given, as if they were one; a\n"
     "FILE may be gzip, bzip2, xz or zstd, and - reads standard input, once.\n"},
    {Command::Stats, "stats", kStatsBit, "[FILE]...",
     "  stats [FILE]...     read rows as formatted and unformatted print them, in\n"
     "                      any of the three formats, and print the statistics\n"
     "                      that --stats would have printed for those rows; no\n"
     "                      FILE, or -, reads standard input\n",
     "Read rows as formatted and unformatted print them, in any of the three\n"
     "formats, and print the statistics that --stats would have printed for those\n"
     "rows; no FILE, or -, reads standard input. A statistics block in the input\n"
     "must agree with the rows before it, and counts in their place when it stands\n"
     "alone, so stats also merges the outputs of stats. Rows and statistics of --all\n"
     "merge their reasons too; statistics cut by --top cannot be merged. A FILE that\n"
     "cannot be read is named, the others are counted, and a note says the\n"
     "statistics leave it out (exit status 1).\n"},
    {Command::Report, "report", kReportBit, "KIND FILE...",
     "  report KIND FILE...\n"
     "                      read the FILEs as the command KIND (formatted or\n"
     "                      unformatted) does and write one HTML page of their\n"
     "                      statistics instead of rows: a world map shaded by\n"
     "                      share, the countries, the 20 busiest addresses, the\n"
     "                      files and the sources of the data; self-contained,\n"
     "                      it works offline (to PAGE with -o, else to standard\n"
     "                      output)\n",
     "Read the FILEs as the command KIND (formatted or unformatted) does and write\n"
     "one HTML page of their statistics instead of rows: a world map shaded by\n"
     "share, the countries, the 20 busiest addresses, the files and the sources of\n"
     "the data. The page is self-contained and works offline.\n"},
    {Command::Networks, "networks", kNetworksBit, "[COUNTRY]...",
     "  networks [COUNTRY]...\n"
     "                      print the networks of the countries (codes such as DE,\n"
     "                      or --all-countries) as the sets that firewalls and web\n"
     "                      servers load: CIDR lists, nftables, ipset, nginx geo,\n"
     "                      HAProxy maps\n",
     "Print the networks of the COUNTRYs (codes of the country list, such as DE),\n"
     "or of every country with --all-countries, as the range files the lookups read\n"
     "assign them: overlapping and neighbouring ranges merged, each range cut into\n"
     "the fewest CIDR blocks (nft reads ranges as they are), the special-purpose\n"
     "blocks never among them, the networks of --exclude taken out of every set.\n"
     "Each format begins with comment lines naming the data's source, licence and\n"
     "date:\n"
     "  cidr (default)  one block per line, IPv4 first; all COUNTRYs as one list\n"
     "  nft             a file for nft -f: one interval set per country and family\n"
     "                  in the table of --table, flushed and refilled in one\n"
     "                  transaction, so it can be loaded again while rules use the\n"
     "                  sets; a country without ranges of a family gets an empty set\n"
     "  ipset           a script for ipset restore: each set filled apart and\n"
     "                  swapped in whole (ipset swap)\n"
     "  nginx           a geo $country_code block for the http context (include it)\n"
     "  haproxy         a map file, NETWORK CODE per line, for map_ip\n"
     "A COUNTRY that neither the country list nor the range files know is wrong\n"
     "usage (exit status 2).\n"},
}};

bool isSetFormat(std::string_view value) {
    for (const std::string_view name : {"cidr", "nft", "ipset", "nginx", "haproxy"})
        if (value == name) return true;
    return false;
}

const CommandRow* rowOf(Command command) {
    for (const CommandRow& row : kCommands)
        if (row.command == command) return &row;
    return nullptr;
}

bool setFormat(std::optional<Format>& format, const std::string& value, std::string& problem,
               std::string_view what) {
    format = parseFormat(value);
    if (!format)
        problem = std::string(what) + " takes tsv, csv or json" +
                  (what == "--format" ? " (networks: cidr, nft, ipset, nginx or haproxy)" : "") +
                  ", not '" + value + "'";
    return format.has_value();
}

// Say it when the engine's cap changes: the help of --threads names it.
static_assert(analysis::kMostWorkerThreads == 6);

bool setThreads(Options& options, const std::string& value, std::string& problem) {
    const bool digits = !value.empty() && value.size() <= 3 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    const int n = digits ? std::stoi(value) : 0;
    if (n < 1 || n > 999) {
        problem =
            "--threads takes a number from 1 up (at most 6 work at once), not '" + value + "'";
        return false;
    }
    options.threads = static_cast<unsigned>(n);
    return true;
}

const OptionRow kOptions[] = {
    {"--data-dir", "", "DIR", kEveryCommand,
     "read Country.dbf, IP_db.dbf, IP6_db.dbf and provenance.txt from DIR (default: "
     "the first of $XDG_DATA_HOME/ipcountry (else ~/.local/share/ipcountry) and "
     "/var/lib/ipcountry whose range files are whole, else the folder of this program; "
     "Country.dbf, world_map.txt and flags come from the program's folder unless that "
     "folder holds its own)",
     [](Options& o, const std::string& value, std::string&) {
         o.countriesDir = value;
         o.dataDirGiven = true;
         return true;
     }},
    {"--explain", "", "", kFindBit,
     "for each ADDRESS, why it has its country: the range that holds it (first and "
     "last address and its CIDR blocks), its code and country, the source and date of "
     "the data; for a special-purpose block its name and RFC; or that no range holds "
     "it (json: address, first, last, blocks, code, country, or special and rfc, or "
     "range null; then source, date, folder)",
     [](Options& o, const std::string&, std::string&) {
         o.explain = true;
         return true;
     }},
    {"--format", "", "FORMAT", kFindBit | kAnalysesBits | kStatsBit | kNetworksBit,
     "what to print:\n"
     "tsv (default): tab-separated rows, no header, the port as the window shows it "
     "(:8080);\n"
     "csv: a header row, fields quoted as RFC 4180 says, rows ended by CR LF, with a "
     "Code column; Port is the text after the colon (8080);\n"
     "json: JSON Lines, one object per row with ip, port, country and code; port is a "
     "number when it is 1 to 5 digits, the text after the colon otherwise, and null "
     "when there is none; code and country are both null for an address without a "
     "country, and reason says why (find: ip, code, country and reason);\n"
     "find names an address without a country in one form: no code, and its reason "
     "(private, documentation, unknown, ...) where the country would stand; csv has a "
     "Reason column for it;\n"
     "networks: cidr (default), nft, ipset, nginx or haproxy",
     [](Options& o, const std::string& value, std::string& problem) {
         o.formatText = value;
         if (isSetFormat(value)) return true;  // networks' own
         std::optional<Format> format;
         if (!setFormat(format, value, problem, "--format")) return false;
         o.format = *format;
         return true;
     }},
    {"--input-format", "", "FORMAT", kStatsBit,
     "what stats reads: tsv, csv or json (default: recognised from the first line of "
     "each FILE)",
     [](Options& o, const std::string& value, std::string& problem) {
         return setFormat(o.inputFormat, value, problem, "--input-format");
     }},
    {"--output", "-o", "FILE", kReportBit | kNetworksBit,
     "write the page (report) or the sets (networks) to FILE, replaced in one step with "
     "its mode kept (default: standard output)",
     [](Options& o, const std::string& value, std::string& problem) {
         if (value.empty()) {
             problem = "--output needs a file name";
             return false;
         }
         o.page = value;
         return true;
     }},
    {"--stats", "", "", kAnalysesBits,
     "after the rows, print the statistics of the analysis: the total of rows and the "
     "distinct addresses among them, then each country with its code, count, share and "
     "distinct addresses (its clients) "
     "(of several FILEs, those read to their end, and a note on standard error naming "
     "the others);\n"
     "csv: more tables, each after a blank line (Elapsed seconds,Total,Distinct and "
     "Country,Code,Count,Share,Distinct, with --all Reason,Count,Share);\n"
     "json: one last object with elapsed_seconds, total, distinct and countries "
     "(country, code, count, share in percent, distinct), with --all reasons (reason, "
     "count, share)",
     [](Options& o, const std::string&, std::string&) {
         o.stats = true;
         return true;
     }},
    {"--first", "", "", kUnformattedBit | kReportBit,
     "count only the first address of each line: the client in web, auth, mail and "
     "firewall logs, where the addresses further on are versions, proxies and servers "
     "(unformatted and report unformatted)",
     [](Options& o, const std::string&, std::string&) {
         o.firstOfLine = true;
         return true;
     }},
    {"--window-rules", "", "", kUnformattedBit | kReportBit,
     "take every address the window's scan finds, pieces of longer numbers and names "
     "too (999.1.1.1 gives 99.1.1.1): the window's rows exactly. By default an address "
     "is taken only where it stands alone, not glued to letters, digits or colons and "
     "not part of a dotted name (112.31.87.10.in-addr.arpa, host-1.2.3.4.example) or "
     "of a longer dotted number (serial 123456789.1.2.3, GSA/3.2.1.25875)",
     [](Options& o, const std::string&, std::string&) {
         o.windowRules = true;
         return true;
     }},
    {"--only", "", "NETWORK", kAnalysesBits | kReportBit,
     "count only the addresses in NETWORK (repeatable, both families): an address, "
     "ADDRESS/BITS, FIRST-LAST, an AS number (AS13335: the addresses of that network, "
     "as --asn names them), or @FILE for a file of them, one a line, # starting a "
     "comment",
     [](Options& o, const std::string& value, std::string&) {
         o.only.push_back(value);
         return true;
     }},
    {"--exclude", "", "NETWORK", kAnalysesBits | kReportBit | kNetworksBit,
     "leave out the addresses in NETWORK, as --only reads it; both apply before "
     "anything is counted (networks: taken out of every set)",
     [](Options& o, const std::string& value, std::string&) {
         o.exclude.push_back(value);
         return true;
     }},
    {"--all", "", "", kFindBit | kAnalysesBits | kReportBit,
     "also give a row to each address without a country, with the reason in its place: "
     "private, loopback, link-local, shared, documentation, multicast, reserved, or "
     "unknown (no range holds it, or its code is not in the country list); csv adds a "
     "Reason column, json a reason with a null country and code; the statistics end "
     "with a count per reason (find answers every address so: --all changes nothing)",
     [](Options& o, const std::string&, std::string&) {
         o.withoutCountry = true;
         return true;
     }},
    {"--asn", "", "", kFindBit | kAnalysesBits,
     "also name the network that holds each address: its AS number and the name of "
     "its operator, from asn.bin beside the range files; tsv adds two columns "
     "(AS13335, then the operator), csv AS and Operator columns, json asn (a number) "
     "and as_name; empty, or null in json, where no network holds the address",
     [](Options& o, const std::string&, std::string&) {
         o.networks = true;
         return true;
     }},
    {"--line-number", "-n", "", kFindBit | kAnalysesBits,
     "begin each row with the number of the input line its address stands on, "
     "counted from 1 in each FILE (find: in standard input, and nothing for an "
     "ADDRESS typed on the command line); tsv puts it first, after the file name "
     "where -H gives one, as grep -n does; csv adds a Line column, json line (a number)",
     [](Options& o, const std::string&, std::string&) {
         o.places.line = true;
         return true;
     }},
    {"--with-filename", "-H", "", kFindBit | kAnalysesBits,
     "begin each row with the name of the FILE it was read from, as given "
     "((standard input) for -); tsv puts it first, as grep -H does; csv adds a File "
     "column, json file. Without it no row names its file, however many FILEs are "
     "read",
     [](Options& o, const std::string&, std::string&) {
         o.places.file = true;
         return true;
     }},
    {"--by", "", "WHAT", kAnalysesBits | kStatsBit,
     "what the statistics count the rows by: country (the default), or as: each "
     "network (AS number, operator, the country that holds most of its rows where one "
     "holds more than half, count, share), rows of no network together on one line; "
     "--top and --sort apply to them as to countries (list: by AS number); stats counts "
     "them from rows written with --asn",
     [](Options& o, const std::string& value, std::string& problem) {
         if (value != "country" && value != "as") {
             problem = "--by takes country or as, not '" + value + "'";
             return false;
         }
         o.byNetwork = value == "as";
         return true;
     }},
    {"--sort", "", "ORDER", kAnalysesBits | kStatsBit,
     "list the countries of the statistics by count (most first), clients (the most "
     "distinct addresses first), name, or list (the country list's order, the default)",
     [](Options& o, const std::string& value, std::string& problem) {
         const std::optional<CountryOrder> order = parseCountryOrder(value);
         if (!order) {
             problem = "--sort takes count, clients, name or list, not '" + value + "'";
             return false;
         }
         o.order = *order;
         o.orderGiven = true;
         return true;
     }},
    {"--top", "", "N", kAnalysesBits | kStatsBit,
     "list only the N countries with the most addresses in the statistics, most first, "
     "and the others together on one line (such statistics cannot be merged)",
     [](Options& o, const std::string& value, std::string& problem) {
         const bool digits = !value.empty() && value.size() <= 3 &&
                             value.find_first_not_of("0123456789") == std::string::npos;
         const int n = digits ? std::stoi(value) : 0;
         if (n < 1) {
             problem = "--top takes a number of countries from 1 to 999, not '" + value + "'";
             return false;
         }
         o.top = static_cast<std::size_t>(n);
         return true;
     }},
    {"--family", "", "4|6", kNetworksBit,
     "only the IPv4 (4) or the IPv6 (6) networks (default: both)",
     [](Options& o, const std::string& value, std::string& problem) {
         if (value != "4" && value != "6") {
             problem = "--family takes 4 or 6, not '" + value + "'";
             return false;
         }
         o.family = value == "4" ? 4 : 6;
         return true;
     }},
    {"--all-countries", "", "", kNetworksBit,
     "the networks of every country of the country list and the range files",
     [](Options& o, const std::string&, std::string&) {
         o.allCountries = true;
         return true;
     }},
    {"--name", "", "PATTERN", kNetworksBit,
     "name the sets of nft and ipset after PATTERN: %c the country code in lower case, %f "
     "4 or 6 (default: geo_%c_%f)",
     [](Options& o, const std::string& value, std::string&) {
         o.namePattern = value;
         return true;
     }},
    {"--table", "", "'FAMILY NAME'", kNetworksBit,
     "the nftables table the sets are declared in (default: 'inet filter')",
     [](Options& o, const std::string& value, std::string&) {
         o.table = value;
         return true;
     }},
    {"--stop-on-error", "", "", kAnalysesBits | kReportBit,
     "end the run at the first failing line of a formatted list, or at the first FILE "
     "that cannot be read",
     [](Options& o, const std::string&, std::string&) {
         o.stopOnError = true;
         return true;
     }},
    {"--threads", "", "N", kFindBit | kAnalysesBits | kReportBit,
     "scan and resolve on N threads, at most 6: a larger N works as 6 (default: one "
     "per core, at most 6); the rows and messages come in the same order for any N",
     [](Options& o, const std::string& value, std::string& problem) {
         return setThreads(o, value, problem);
     }},
    {"--help", "-h", "", kEveryCommand,
     "print this help and exit; after a command, that command's help",
     [](Options& o, const std::string&, std::string&) {
         o.help = true;
         return true;
     }},
    {"--version", "", "", kEveryCommand,
     "print the version, the data folder, the sources of the data and the age of "
     "the ranges, and exit",
     [](Options& o, const std::string&, std::string&) {
         o.version = true;
         return true;
     }},
};

constexpr std::size_t kHelpColumn = 22;
constexpr std::size_t kHelpWidth = 79;

// "  -o, --output PAGE" or "  --stats", then the help wrapped beside it.
void appendOption(std::string& text, const OptionRow& row) {
    std::string head = "  ";
    if (!row.shortName.empty()) head.append(row.shortName).append(", ");
    head.append(row.name);
    if (!row.value.empty()) head.append(" ").append(row.value);
    text += head;
    std::size_t column = head.size();
    if (column + 2 > kHelpColumn) {
        text += '\n';
        column = 0;
    }
    std::string_view rest = row.help;
    bool lineStarted = false;
    const auto newLine = [&] {
        text += '\n';
        column = 0;
        lineStarted = false;
    };
    while (!rest.empty()) {
        if (rest.front() == '\n') {
            newLine();
            rest.remove_prefix(1);
            continue;
        }
        if (rest.front() == ' ') {
            rest.remove_prefix(1);
            continue;
        }
        const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
        const std::string_view word = rest.substr(0, end);
        rest.remove_prefix(end);
        if (lineStarted && column + 1 + word.size() > kHelpWidth) newLine();
        if (!lineStarted) {
            text.append(kHelpColumn - column, ' ');
            column = kHelpColumn;
        } else {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
        lineStarted = true;
    }
    text += '\n';
}

std::string synopsis(Command only) {
    std::string text;
    for (const CommandRow& row : kCommands) {
        if (only != Command::None && row.command != only) continue;
        text += text.empty() ? "Usage: " : "  or:  ";
        text.append("ipcountry-batch ").append(row.name).append(" [OPTION]... ");
        text.append(row.operands).append("\n");
    }
    if (only == Command::None) text += "  or:  ipcountry-batch help [COMMAND]\n";
    return text;
}

std::string optionsOf(unsigned bits) {
    std::string text = "Options:\n";
    for (const OptionRow& row : optionTable())
        if ((row.commands & bits) != 0) appendOption(text, row);
    return text;
}

const OptionRow* findLong(std::string_view name) {
    for (const OptionRow& row : optionTable())
        if (row.name == name) return &row;
    return nullptr;
}

const OptionRow* findShort(std::string_view name) {
    for (const OptionRow& row : optionTable())
        if (!row.shortName.empty() && row.shortName == name) return &row;
    return nullptr;
}

}  // namespace

std::string Options::networksFile() const {
    // A folder an updater of the ranges alone filled has none: then the one
    // beside the country list (the program's own, by default).
    const std::filesystem::path beside = rangesFolder() / std::string(lookup::kAsFileName);
    std::error_code ignored;
    if (rangesDir.empty() || std::filesystem::exists(beside, ignored)) return beside.string();
    return (countriesDir / std::string(lookup::kAsFileName)).string();
}

std::span<const OptionRow> optionTable() { return kOptions; }

std::optional<Command> commandNamed(std::string_view name) {
    if (name == "help") return Command::Help;
    for (const CommandRow& row : kCommands)
        if (row.name == name) return row.command;
    return std::nullopt;
}

namespace {

// The flags of "-nH", one a letter; none unless every letter is a flag.
std::vector<const OptionRow*> bundledFlags(std::string_view arg) {
    std::vector<const OptionRow*> flags;
    for (std::size_t i = 1; i < arg.size(); ++i) {
        const OptionRow* row = findShort(std::string{'-', arg[i]});
        if (row == nullptr || !row->value.empty()) return {};
        flags.push_back(row);
    }
    return flags;
}

bool readArguments(std::span<char* const> args, Options& options, std::string& problem) {
    std::vector<std::string> positional;
    std::vector<const OptionRow*> given;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(std::move(arg));
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionRow* row = nullptr;
        std::optional<std::string> value;
        if (arg.starts_with("--")) {
            // "--name=value" as well as "--name value".
            if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg.resize(equals);
            }
            row = findLong(arg);
        } else {
            // "-oPAGE" as well as "-o PAGE"; flags bundled as grep takes
            // them ("-nH"), when every letter is a flag.
            row = findShort(arg.substr(0, 2));
            if (row != nullptr && arg.size() > 2) {
                if (!row->value.empty()) {
                    value = arg.substr(2);
                } else if (std::vector<const OptionRow*> flags = bundledFlags(arg);
                           !flags.empty()) {
                    for (const OptionRow* flag : flags) {
                        if (!flag->set(options, std::string(), problem)) return false;
                        given.push_back(flag);
                    }
                    continue;
                } else {
                    row = nullptr;
                }
            }
        }
        if (row == nullptr) {
            problem = "unknown option " + arg;
            if (arg.size() > 1 && arg[1] != '-')
                problem += " (an operand that begins with - goes after --)";
            return false;
        }
        if (row->value.empty() && value) {
            problem = "option " + arg + " takes no value";
            return false;
        }
        if (!row->value.empty() && !value) {
            if (i + 1 >= args.size()) {
                problem = "option " + arg + " needs a value (" + std::string(row->value) + ")";
                return false;
            }
            value = args[++i];
        }
        if (!row->set(options, value.value_or(std::string()), problem)) return false;
        given.push_back(row);
    }
    if (!positional.empty()) {
        options.commandName = positional.front();
        positional.erase(positional.begin());
        const std::optional<Command> command = commandNamed(options.commandName);
        if (!command) {
            problem = "unknown command " + options.commandName;
            return false;
        }
        options.command = *command;
    }
    options.operands = std::move(positional);
    if (const CommandRow* command = rowOf(options.command)) {
        for (const OptionRow* row : given) {
            if ((row->commands & command->bit) == 0) {
                problem = std::string(row->name) + " does not apply to " + options.commandName;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool parseCommandLine(std::span<char* const> args, Options& options, std::string& problem) {
    if (readArguments(args, options, problem)) return true;
    // The synopsis of the command the user meant, if any stands on the line.
    if (options.command == Command::None) {
        for (const char* arg : args) {
            const std::optional<Command> command = commandNamed(arg);
            if (command && *command != Command::Help) {
                options.command = *command;
                break;
            }
        }
    }
    return false;
}

// Also the source of the manual page (help2man, with ipcountry-batch.h2m):
// lines that end with a colon become its sections.
std::string helpText() {
    std::string text = synopsis(Command::None);
    text +=
        "Tell the country of IPv4 and IPv6 addresses without a window: one by one,\n"
        "from a list of address:port lines ([address]:port for IPv6), or wherever\n"
        "they stand in a text such as a log.\n"
        "\n"
        "Commands:\n";
    for (const CommandRow& row : kCommands) text += row.summary;
    text +=
        "  help [COMMAND]      print this help, or the help of COMMAND\n"
        "\n";
    text += optionsOf(kEveryCommand);
    text +=
        "\n"
        "Options may come before or after the command and among its operands; --\n"
        "ends them, so that an operand may begin with - (find -- -1.2.3.4). Each\n"
        "command's help (ipcountry-batch COMMAND --help) names the options that\n"
        "apply to it; another is wrong usage.\n"
        "\n"
        "Texts read from files are taken as Windows-1252 and printed as UTF-8.\n"
        "\n"
        "Messages:\n"
        "  Problems go to standard error, one line each, as compilers and grep write\n"
        "  them: ipcountry-batch: FILE: reason, or ipcountry-batch: FILE:LINE: reason\n"
        "  for a line of a file; standard input is named -, and an ADDRESS of find\n"
        "  names itself. The other addresses, lines and files are still read.\n"
        "\n"
        "Merging statistics:\n"
        "  The statistics of a whole are the statistics of its parts merged: run\n"
        "  unformatted on each part (each log, shard or machine), then stats over\n"
        "  all their outputs. stats counts the rows; a statistics block in its input\n"
        "  (from a run with --stats) must agree with the rows before it, and counts\n"
        "  in their place when it stands alone, so stats also merges the outputs of\n"
        "  stats. The elapsed time stats reports is the sum of the elapsed times of\n"
        "  the statistics blocks it read or, when its input holds none, the time it\n"
        "  took itself to read its input.\n"
        "\n"
        "Exit status:\n"
        "  0   find answered every address (a country may be unknown); an analysis\n"
        "      read every file to its end (a formatted list's failing lines are\n"
        "      reported and skipped unless --stop-on-error is given); stats read\n"
        "      every file without a malformed line\n"
        "  1   some address was wrong, a file could not be read whole, a line given\n"
        "      to stats was not one this program prints, standard output could not\n"
        "      be written, or the data files cannot be used (no statistics then,\n"
        "      but of several files the statistics of those read, with a note on\n"
        "      standard error naming the others)\n"
        "  2   wrong usage, a NETWORK of --only or --exclude that cannot be read, a\n"
        "      COUNTRY of networks that is not in the country list\n";
    return text;
}

std::string commandHelp(Command command) {
    const CommandRow* row = rowOf(command);
    if (row == nullptr) return helpText();
    std::string text = synopsis(command);
    text += row->description;
    text += "\n";
    text += optionsOf(row->bit);
    return text;
}

int usageError(Command command, std::string_view problem) {
    std::cerr << "ipcountry-batch: " << problem << '\n' << synopsis(command);
    const CommandRow* row = rowOf(command);
    std::cerr << "Try 'ipcountry-batch " << (row ? std::string(row->name) + " " : std::string())
              << "--help' for more information.\n";
    return 2;
}

}  // namespace ipcountry::batch
