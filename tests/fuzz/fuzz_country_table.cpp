// Any Country.dbf content: a table or a BadData error, never anything else.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lookup/country_table.h"
#include "lookup/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ipcountry::lookup;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    try {
        auto table = parseCountryTable(content, "Country.dbf");
        for (int i = 0; i < kSlotCount; ++i) {
            if (table.slotFilled(i) && table.slotCode(i).size() != 2) std::abort();
            (void)windows1252ToUtf8(table.slotName(i));
        }
        if (const auto slot = table.findSlot(table.slotCode(0))) {
            if (*slot != 0) std::abort();
        }
    } catch (const Error& e) {
        if (e.kind() != ErrorKind::BadData) std::abort();
    }
    return 0;
}
