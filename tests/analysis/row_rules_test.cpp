// Which addresses give rows: the reason an address without a country gets,
// one address of each kind of block, and --only and --exclude together.
#include <gtest/gtest.h>

#include <string>

#include "analysis/row_rules.h"
#include "lookup/address_text.h"
#include "lookup/special_blocks.h"
#include "support/special_addresses.h"

namespace {

using namespace ipcountry;

struct ReasonCase {
    const char* address;
    const char* reason;
};

class NoCountryReasonTest : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(NoCountryReasonTest, namesTheBlockThatHoldsTheAddress) {
    const lookup::TypedAddress typed = lookup::readTypedAddress(GetParam().address);
    EXPECT_EQ(analysis::noCountryReason(typed), GetParam().reason) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NoCountryReasonTest,
    ::testing::Values(ReasonCase{"fe80::1%eth0", "link-local"},
                      // A zone binds any address to a link, not only one in fe80::/10.
                      ReasonCase{"2001:4860::1%eth0", "link-local"},
                      ReasonCase{"::ffff:10.0.0.1", "private"},  // looked up as IPv4
                      // Outside every block: no range, or a code without a country.
                      ReasonCase{"8.8.8.8", "unknown"}, ReasonCase{"2a00::1", "unknown"}),
    [](const auto& info) { return "address" + std::to_string(info.index); });

// Every probe of the shared table, in every form it may be written: the
// block's word, or "unknown" where the source's country stands.
TEST(NoCountryReason, namesTheBlockOfEverySpecialAddress) {
    for (const test::SpecialAddressForm& form : test::specialAddressForms()) {
        const lookup::TypedAddress typed = lookup::readTypedAddress(form.text);
        EXPECT_EQ(analysis::noCountryReason(typed),
                  form.row->reason ? form.row->reason : analysis::kUnknownReason)
            << form.text << ": " << form.row->block;
    }
}

// The statistics list the reasons in a fixed order: a word the table gives
// that the list lacks would be counted nowhere.
TEST(NoCountryReasons, everyBlockReasonIsListed) {
    for (const auto blocks : {lookup::specialBlocks4(), lookup::specialBlocks6()})
        for (const lookup::SpecialBlock& block : blocks)
            EXPECT_TRUE(analysis::noCountryReasonIndex(block.reason)) << block.network;
    EXPECT_TRUE(analysis::noCountryReasonIndex(analysis::kUnknownReason));
    EXPECT_FALSE(analysis::noCountryReasonIndex("Germany"));
}

TEST(RowRules, onlyAndExcludeTogether) {
    std::string why;
    lookup::NetworkSet only;
    only.add(*lookup::parseNetwork("10.0.0.0/8", why));
    only.add(*lookup::parseNetwork("2001:db8::/32", why));
    only.seal();
    lookup::NetworkSet exclude;
    exclude.add(*lookup::parseNetwork("10.1.0.0/16", why));
    exclude.seal();
    const struct {
        const char* address;
        bool none, onlySet, excludeSet, both;
    } cases[] = {
        {"10.0.0.1", true, true, true, true},      {"10.1.2.3", true, true, false, false},
        {"11.0.0.1", true, false, true, false},    {"2001:db8::1", true, true, true, true},
        {"2001:db9::1", true, false, true, false},
    };
    for (const auto& c : cases) {
        const lookup::TypedAddress typed = lookup::readTypedAddress(c.address);
        EXPECT_EQ(analysis::RowRules{}.admits(typed), c.none) << c.address;
        EXPECT_EQ((analysis::RowRules{false, &only, nullptr, false}.admits(typed)), c.onlySet)
            << c.address;
        EXPECT_EQ((analysis::RowRules{false, nullptr, &exclude, false}.admits(typed)), c.excludeSet)
            << c.address;
        EXPECT_EQ((analysis::RowRules{false, &only, &exclude, false}.admits(typed)), c.both)
            << c.address;
    }
}

}  // namespace
