// Writes the benchmark corpora for use outside the benchmark:
//   ipcountry_corpus log  MEGABYTES SEED FILE
//   ipcountry_corpus mixed MEGABYTES SEED FILE   (about 30 % IPv6 clients)
//   ipcountry_corpus list LINES     SEED FILE

#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.h"

int main(int argc, char** argv) {
    const std::string kind = argc == 5 ? argv[1] : "";
    if (kind != "log" && kind != "mixed" && kind != "list") {
        std::fprintf(stderr,
                     "usage: ipcountry_corpus log MEGABYTES SEED FILE\n"
                     "       ipcountry_corpus mixed MEGABYTES SEED FILE\n"
                     "       ipcountry_corpus list LINES SEED FILE\n");
        return 2;
    }
    const std::uint64_t amount = std::strtoull(argv[2], nullptr, 10);
    const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
    const auto stats = kind == "log" ? ipcountry::bench::writeLogCorpus(argv[4], amount << 20, seed)
                       : kind == "mixed"
                           ? ipcountry::bench::writeMixedLogCorpus(argv[4], amount << 20, seed)
                           : ipcountry::bench::writeListCorpus(argv[4], amount, seed);
    std::printf("%llu bytes, %llu lines, %llu addresses (%llu IPv6)\n",
                static_cast<unsigned long long>(stats.bytes),
                static_cast<unsigned long long>(stats.lines),
                static_cast<unsigned long long>(stats.addresses),
                static_cast<unsigned long long>(stats.addresses6));
    return 0;
}
