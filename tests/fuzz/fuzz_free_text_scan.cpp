// The fast line scanner against the literal reference: equal rows for every
// input, fed whole and fed in pieces whose sizes the input itself chooses, so
// that cuts fall inside octets, before dots, inside ports and everywhere else.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/byte_classes.h"
#include "analysis/ipv4_scanner.h"
#include "fuzz/reference_scanner.h"

namespace {

void expectSame(const std::vector<ipcountry::reference::Found>& fast,
                const std::vector<ipcountry::reference::Found>& slow) {
    if (fast != slow) std::abort();
}

ipcountry::reference::Found row(const ipcountry::analysis::FoundAddress& found) {
    return {std::string(found.dottedText), std::string(found.portText), found.address};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const auto slow = ipcountry::reference::scanLine(line);

    // A whole line is scanned from its classified bytes: on every path.
    using ipcountry::analysis::ClassifyPath;
    for (const ClassifyPath path :
         {ClassifyPath::Portable, ClassifyPath::Sse2, ClassifyPath::Avx2}) {
        if (!ipcountry::analysis::classifyPathAvailable(path)) continue;
        ipcountry::analysis::useClassifyPath(path);
        std::vector<ipcountry::reference::Found> whole;
        for (const auto& found : ipcountry::analysis::scanLine(line)) whole.push_back(row(found));
        expectSame(whole, slow);
    }

    std::vector<ipcountry::reference::Found> pieces;
    ipcountry::analysis::Ipv4Scanner scanner;
    const auto onAddress = [&](const ipcountry::analysis::FoundAddress& found) {
        if (line.compare(found.start, found.dottedText.size(), found.dottedText) != 0) std::abort();
        pieces.push_back(row(found));
    };
    for (std::size_t from = 0; from < size;) {
        const std::size_t length = 1 + data[from] % 23;
        scanner.feed(std::string_view(line).substr(from, length), onAddress);
        from += length;
    }
    scanner.endLine(onAddress);
    expectSame(pieces, slow);
    return 0;
}
