// Saves the index of each range file named beside it (FILE.index), as the
// build does for the range files it copies and the package ships: an
// installed program maps it instead of parsing the text at every start, and
// never has to write into its own folder. IP6_db.dbf is read as IPv6 ranges,
// any other name as IPv4.
#include <cstdio>
#include <filesystem>

#include "lookup/range_file.h"

int main(int argc, char** argv) {
    namespace lookup = ipcountry::lookup;
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path file(argv[i]);
        const bool ipv6 = file.filename() == lookup::kRange6FileName;
        const bool saved = ipv6 ? lookup::saveRangeIndexOf<lookup::Ipv6Ranges>(file)
                                : lookup::saveRangeIndexOf<lookup::Ipv4Ranges>(file);
        if (!saved) {
            std::fprintf(stderr, "ipcountry_index_ranges: %s: no index could be saved for it\n",
                         argv[i]);
            status = 1;
        }
    }
    return status;
}
