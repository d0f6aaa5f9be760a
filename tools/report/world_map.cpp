#include "world_map.h"

#include <charconv>
#include <stdexcept>

#include "lookup/range_file.h"
#include "lookup/text_file.h"

namespace ipcountry::report {

namespace {

// A map of ours is about 70 KiB; a file many times that is no map of ours,
// and copying it would break the page's size.
constexpr std::size_t kLargestMap = std::size_t{1} << 20;

bool pathText(std::string_view path) {
    for (const char c : path)
        if (!(c >= '0' && c <= '9') && c != ' ' && c != '-' && c != 'M' && c != 'l' && c != 'z')
            return false;
    return true;
}

std::optional<int> number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

const MapShape* WorldMap::find(std::string_view code) const {
    for (const MapShape& shape : shapes)
        if (shape.code == code) return &shape;
    return nullptr;
}

WorldMap parseWorldMap(std::string_view content, const std::string& fileName) {
    WorldMap map;
    std::size_t lineNumber = 0;
    const auto fail = [&](const std::string& problem) {
        throw std::runtime_error(fileName + ", line " + std::to_string(lineNumber) + ": " +
                                 problem);
    };
    if (content.size() > kLargestMap)
        throw std::runtime_error(fileName + ": larger than a map can be");
    while (!content.empty()) {
        const auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        const auto word = [&line](std::string_view key) {
            return line.substr(0, key.size() + 1) == std::string(key) + ' ';
        };
        if (word("source")) {
            map.source = line.substr(7);
        } else if (word("map")) {
            const std::string_view rest = line.substr(4);
            const auto blank = rest.find(' ');
            const auto width = number(rest.substr(0, blank));
            const auto height =
                blank == std::string_view::npos ? std::nullopt : number(rest.substr(blank + 1));
            if (!width || !height || *width <= 0 || *height <= 0)
                fail("the size is not two numbers");
            map.width = *width;
            map.height = *height;
        } else if (word("projection")) {
            // How places land on the map: for readers of the file, not for the page.
        } else if (word("outline")) {
            map.outline = line.substr(8);
            if (!pathText(map.outline)) fail("the outline is no path");
        } else {
            const auto tab = line.find('\t');
            const auto tab2 = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
            if (tab2 == std::string_view::npos) fail("a shape needs a code, a marker and a path");
            MapShape shape;
            shape.code = line.substr(0, tab);
            if (shape.code != "-" && !lookup::isTwoCapitals(shape.code))
                fail("the code is not two capital letters");
            const std::string_view marker = line.substr(tab + 1, tab2 - tab - 1);
            if (marker != "-") {
                const auto comma = marker.find(',');
                const auto x = number(marker.substr(0, comma));
                const auto y = comma == std::string_view::npos ? std::nullopt
                                                               : number(marker.substr(comma + 1));
                if (!x || !y) fail("the marker is not x,y");
                shape.marker = std::pair(*x, *y);
            }
            shape.path = line.substr(tab2 + 1);
            if (!pathText(shape.path)) fail("the path of " + shape.code + " is no path");
            map.shapes.push_back(std::move(shape));
        }
    }
    if (map.width == 0) throw std::runtime_error(fileName + ": no map line gives the size");
    return map;
}

WorldMap loadWorldMap(const std::filesystem::path& dataDir) {
    const std::filesystem::path path = dataDir / kWorldMapFileName;
    lookup::OpenedFile file(path);
    // One byte past the limit is enough to tell a file that is too large.
    std::string content(kLargestMap + 1, '\0');
    std::size_t filled = 0;
    while (filled < content.size()) {
        const std::size_t n = file.read(content.data() + filled, content.size() - filled);
        if (n == 0) break;
        filled += n;
    }
    content.resize(filled);
    return parseWorldMap(content, path.string());
}

}  // namespace ipcountry::report
