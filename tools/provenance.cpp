#include "provenance.h"

#include <fstream>
#include <map>

namespace ipcountry::batch {

std::vector<std::string> describeData(const std::filesystem::path& dataDir) {
    const std::filesystem::path path = dataDir / kProvenanceFileName;
    std::ifstream in(path);
    if (!in) return {"Data: unknown, " + path.string() + " cannot be read"};

    // KEY=VALUE lines; '#' starts a comment. Keys this version does not know
    // are left alone, so that newer data works with an older program.
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }

    static const std::pair<const char*, const char*> kSources[] = {{"ranges", "Address ranges"},
                                                                   {"names", "Country names"},
                                                                   {"flags", "Flags"},
                                                                   {"map", "Map"}};
    std::vector<std::string> lines;
    for (const auto& [key, label] : kSources) {
        const auto source = values.find(key);
        if (source == values.end()) continue;
        std::string text = std::string(label) + ": " + source->second;
        if (const auto licence = values.find(std::string(key) + "-licence");
            licence != values.end())
            text += " (" + licence->second + ")";
        lines.push_back(std::move(text));
    }
    if (lines.empty()) lines.push_back("Data: unknown, " + path.string() + " names no source");
    return lines;
}

}  // namespace ipcountry::batch
