// The fast line scanner against the literal reference: equal rows for every input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/free_text_scan.h"
#include "fuzz/reference_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const auto fast = ipcountry::analysis::scanLine(line);
    const auto slow = ipcountry::reference::scanLine(line);
    if (fast.size() != slow.size()) std::abort();
    for (std::size_t i = 0; i < fast.size(); ++i) {
        if (fast[i].dottedText != slow[i].dotted || fast[i].portText != slow[i].port ||
            fast[i].address != slow[i].address) {
            std::abort();
        }
    }
    return 0;
}
