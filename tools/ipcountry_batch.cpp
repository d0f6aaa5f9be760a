// ipcountry-batch: the whole road from an address to its country, without a
// window. Usage: ipcountry-batch [--data-dir DIR] find ADDRESS

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "lookup/address_key.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/range_file.h"

namespace {

namespace fs = std::filesystem;
using namespace ipcountry;

constexpr std::string_view kWrongData = "Error due to wrong data entered! ";

constexpr const char* kUsage =
    "usage: ipcountry-batch [--data-dir DIR] find ADDRESS\n"
    "\n"
    "  find ADDRESS   print ADDRESS, its country code and country name\n"
    "\n"
    "  --data-dir DIR  folder of Country.dbf, IP_db.dbf and flags/\n"
    "                  (default: the folder of this program)\n";

int usageError(const std::string& problem) {
    std::cerr << "ipcountry-batch: " << problem << "\n\n" << kUsage;
    return 2;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

struct Options {
    fs::path dataDir;
    std::vector<std::string> arguments;  // the command and its operands
};

// Options stand before the command.
std::optional<Options> parseOptions(int argc, char** argv, std::string& problem) {
    Options options;
    options.dataDir = programDirectory();
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--data-dir") {
            if (i + 1 >= argc) {
                problem = "--data-dir needs a folder";
                return std::nullopt;
            }
            options.dataDir = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            problem = "unknown option " + arg;
            return std::nullopt;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) options.arguments.emplace_back(argv[i]);
    return options;
}

int runFind(const Options& options, const std::string& address) {
    const auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.dataDir);
    std::optional<lookup::CountryCode> code;
    try {
        const std::string key = lookup::makeAddressKey(address);
        if (key.size() != lookup::kAddressKeyLength) {
            std::cerr << kWrongData << "\n";
            return 1;
        }
        ranges.open();
        code = ranges.findCountryCode(key);
    } catch (const lookup::Error& e) {
        std::cerr << kWrongData << e.what() << "\n";
        return 1;
    }
    std::string name = "Unknown";
    if (code == "US") {
        name = "USA";
    } else if (code) {
        if (const auto slot = table.findSlot(*code)) name = lookup::windows1252ToUtf8(table.slotName(*slot));
    }
    std::cout << address << '\t' << lookup::windows1252ToUtf8(code.value_or("")) << '\t' << name << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    const auto options = parseOptions(argc, argv, problem);
    if (!options) return usageError(problem);
    const auto& args = options->arguments;
    if (args.empty()) return usageError("no command given");
    try {
        if (args[0] == "find") {
            if (args.size() != 2) return usageError("find takes one address");
            return runFind(*options, args[1]);
        }
    } catch (const lookup::Error& e) {
        // The data files themselves are unusable.
        std::cerr << "ipcountry-batch: " << e.what() << "\n";
        return 1;
    }
    return usageError("unknown command " + args[0]);
}
