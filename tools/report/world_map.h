#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcountry::report {

inline constexpr const char* kWorldMapFileName = "world_map.txt";

// One shape of the map: a country, or land of no country (code "-").
struct MapShape {
    std::string code;
    std::string path;  // SVG path data; empty when the country is too small to draw
    // Set for a country too small to be seen: where its marker goes.
    std::optional<std::pair<int, int>> marker;
};

// The map as scripts/build-data writes it (data/README.md tells the format):
// already projected, so a page copies its paths as they stand.
struct WorldMap {
    int width = 0;
    int height = 0;
    std::string source;   // where the shapes come from, for the page's footer
    std::string outline;  // the edge of the world
    std::vector<MapShape> shapes;

    const MapShape* find(std::string_view code) const;
};

// Reads the map. Throws lookup::Error when it cannot be read, and
// std::runtime_error naming the file and the line when it holds anything but
// the format: a path may hold only
// the commands and numbers a shape needs, so that no text of the file can
// reach the page as markup.
WorldMap loadWorldMap(const std::filesystem::path& dataDir);
WorldMap parseWorldMap(std::string_view content, const std::string& fileName);

}  // namespace ipcountry::report
