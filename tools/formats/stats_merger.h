#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/columns.h"
#include "formats/formats.h"
#include "lookup/country_table.h"
#include "report/address_tally.h"

namespace ipcountry::batch {

// The slot a printed row was counted in, found again from what the row shows,
// by the rules the rows and statistics are written with (countryName and
// flagCodeOfSlot): nothing here knows a country of its own.
class SlotFinder {
public:
    explicit SlotFinder(const lookup::CountryTable& table);

    // A tsv row shows the country only: the name countryName gives the US
    // slot's rows is that slot; any other name the first slot that has it.
    std::optional<int> byCountry(std::string_view country);
    // csv and json rows show the flag code of the slot too, which says which
    // slot; the country must be what that slot's rows show.
    std::optional<int> byCode(std::string_view code, std::string_view country) const;
    // A statistics row shows the slot's own name and, but in old tsv, its
    // flag code. Without a code, the US slot is taken before any other slot
    // of the same name: it is the one slot counted whatever the list holds,
    // so when the list leaves it empty it shares its empty name with the
    // other unfilled slots, which nothing counts.
    std::optional<int> ofStatistics(std::string_view name,
                                    std::optional<std::string_view> code) const;

private:
    const lookup::CountryTable& m_table;
    std::string m_usaName;             // the name of the US slot's rows
    std::vector<std::string> m_names;  // by slot
    std::vector<std::string> m_codes;
    std::unordered_map<std::string, int> m_firstByName;
    int m_lastSlot = -1;
};

// Reads the driver's output, file after file, and adds up what it counts
// (see runStats for the rules). Every problem is told to `messages` with the
// file and line number.
class StatsMerger {
public:
    using Counts = std::array<std::int64_t, lookup::kMostSlots>;
    using ReasonCounts = decltype(Summary::reasons);

    StatsMerger(const lookup::CountryTable& table, std::string dataDir,
                std::optional<Format> inputFormat, std::ostream& messages);

    enum class Read {
        Whole,       // every line was one the driver prints
        Unreadable,  // the file could not be opened or read to its end
        Malformed,   // it held a line the driver does not print
    };
    Read read(const std::string& path);
    // The same for text in memory, named `name` in messages.
    Read readText(std::string_view content, const std::string& name);

    const Counts& counts() const { return m_counts; }
    const ReasonCounts& reasons() const { return m_reasons; }
    std::int64_t total() const { return m_total; }
    // The sum of the elapsed times of the statistics blocks read; nullopt when there were none.
    std::optional<double> blockSeconds() const {
        return m_blocks > 0 ? std::optional(m_blockSeconds) : std::nullopt;
    }
    // The distinct addresses: of the rows read, or of the one block read
    // alone; unknown when blocks without their rows were merged with more.
    std::optional<std::int64_t> distinct();
    // The distinct addresses of each country, by slot, as distinct() knows
    // them; empty when unknown.
    std::vector<std::int64_t> clients();

    // --by as: every row is counted by its network too, read from its AS
    // and Operator columns (rows written with --asn); statistics without
    // their rows cannot be, and are refused.
    void countNetworks() { m_byNetwork = true; }
    struct NetworkTally {
        std::string name;  // UTF-8
        std::int64_t count = 0;
        std::vector<std::pair<int, std::int64_t>> countries;  // rows by slot
    };
    const std::map<std::uint32_t, NetworkTally>& networks() const { return m_networks; }
    std::int64_t noNetwork() const { return m_noNetwork; }

private:
    // After this many reports a file is taken for something else than the
    // driver's output and read no further.
    static constexpr int kMostReports = 10;

    enum class Expect {
        Rows,            // rows, headers, blank lines, or the start of a block
        TsvTotal,        // "Total number of IPs is N"
        CsvRunValues,    // "seconds,total[,distinct]"
        CsvCountryHead,  // "Country,Code,Count,Share"
        BlockCountries,  // the block's country rows, until their counts reach its total
        CsvReasonHead,   // "Reason,Count,Share"
        BlockReasons,    // the block's reason rows, until its total
    };

    struct Block {
        double seconds = 0;
        std::int64_t total = 0;
        std::int64_t listed = 0;
        std::optional<std::int64_t> distinct;
        Counts counts{};
        Counts clients{};           // each country's distinct addresses
        bool clientsKnown = false;  // every country of the block said them
        ReasonCounts reasons{};
        std::int64_t line = 0;
    };

    // Per file.
    void begin(const std::string& name);
    // False once the file is taken for something else.
    bool wholeLine(std::string_view text);
    Read end();

    void line(std::string_view text);
    void tsvLine(std::string_view text);
    void csvLine(std::string_view text);
    void jsonLine(std::string_view text);
    void countRow(std::string_view ip, std::optional<int> slot, std::string_view country,
                  std::string_view code);
    void countReasonRow(std::string_view ip, std::string_view reason);
    // The network of the row just counted: `as` as the row shows it
    // ("AS13335", empty for none), `slot` its country's, if it has one.
    void countNetwork(std::string_view as, std::string_view name, std::optional<int> slot);
    // A row without network columns under --by as.
    [[noreturn]] void noNetworkColumns() const;
    void openBlock(double seconds, std::optional<std::int64_t> total,
                   std::optional<std::int64_t> distinct);
    void blockCountry(std::optional<int> slot, std::optional<std::int64_t> count,
                      std::string_view name, std::optional<std::int64_t> clients);
    void blockReason(std::string_view reason, std::optional<std::int64_t> count);
    void closeBlockWhenFull();
    void closeBlock();
    void report(const std::string& why);

    SlotFinder m_slots;
    std::string m_dataDir;
    std::optional<Format> m_namedFormat;
    std::ostream& m_messages;
    Counts m_counts{};
    ReasonCounts m_reasons{};
    std::int64_t m_total = 0;  // every count above
    double m_blockSeconds = 0;
    std::int64_t m_blocks = 0;
    report::AddressTally m_addresses;  // of the rows read, for the distinct count
    std::int64_t m_rowsRead = 0;
    std::int64_t m_blocksAlone = 0;  // blocks counted in place of rows
    std::optional<std::int64_t> m_distinctAlone;
    std::optional<Counts> m_clientsAlone;

    // Of the file being read.
    std::string m_name;
    std::int64_t m_lineNumber = 0;
    std::optional<Format> m_format;
    Expect m_expect = Expect::Rows;
    bool m_csvClients = false;  // the csv countries' table has the Distinct column
    Block m_block;
    Counts m_sinceBlock{};  // rows since the file's last block
    ReasonCounts m_reasonsSinceBlock{};
    std::int64_t m_rowsSinceBlock = 0;
    int m_reports = 0;
    std::vector<std::string> m_fields;
    std::optional<Layout> m_csvRows;
    bool m_byNetwork = false;
    std::map<std::uint32_t, NetworkTally> m_networks;
    std::int64_t m_noNetwork = 0;  // the columns the file's csv header named
};

}  // namespace ipcountry::batch
