#include "analysis/row_rules.h"

#include "lookup/special_blocks.h"

namespace ipcountry::analysis {

std::string_view noCountryReason(const lookup::TypedAddress& typed) {
    const lookup::SpecialBlock* block = typed.kind == lookup::TypedAddress::Kind::Ipv4
                                            ? lookup::findSpecialBlock(typed.ipv4)
                                            : lookup::findSpecialBlock(typed.ipv6);
    if (block != nullptr) return block->reason;
    // fe80::/10 is in the table; a zone on any other address binds it to a link all the same.
    if (typed.kind == lookup::TypedAddress::Kind::LinkLocal) return "link-local";
    return kUnknownReason;
}

}  // namespace ipcountry::analysis
