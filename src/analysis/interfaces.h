#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "lookup/country_table.h"
#include "lookup/error.h"

namespace ipcountry::analysis {

// Where an address is counted, and so which country its row shows.
struct Resolution {
    int slot = 0;
    // The code US: counted in slot 222 and shown as "USA", whatever
    // Country.dbf puts in that slot (a row of another code counted there
    // shows the slot's own name).
    bool usa = false;
    friend bool operator==(const Resolution&, const Resolution&) = default;
};

// The country a row shows, as Country.dbf writes it (8-bit text). The rule
// for a country's name lives here: US is shown as "USA" whatever the slot
// holds; whoever names a country (a row, the statistics, the driver's
// formats, the report) names it through this.
inline std::string_view countryName(const lookup::CountryTable& table, Resolution country) {
    return country.usa ? std::string_view("USA") : std::string_view(table.slotName(country.slot));
}

// One row of the results, as the analyses hand it on. The texts are the
// file's own 8-bit characters and stay valid only during the call that
// receives the row; whoever shows the row names its country (countryName).
struct ResultRow {
    std::string_view address;  // the IP cell
    std::string_view port;     // the Port cell: a colon and the port's digits, or empty
    Resolution country;
    // Why the address has no country, in a run that keeps such rows
    // (RowRules::withoutCountry): then `country` means nothing and nothing
    // is counted. Static text; empty for a row with a country.
    std::string_view reason = {};
    // The input line the address stands on, from 1; 0 where the row has none.
    std::int64_t lineNumber = 0;
    // The network of the address, in a run that asks for networks
    // (RowRules::networks): its place there (lookup::AsFile::network), 0 for none.
    std::uint32_t network = 0;
};

// A line of a formatted list that gives no row and asks whether to go on.
struct FailingLine {
    std::int64_t lineNumber = 0;  // from 1; 0 when the list itself cannot be read
    // What is wrong (NoAddress for a line that holds no address); each
    // front end words it.
    lookup::Error error{lookup::ErrorKind::BadData, lookup::ErrorCode::Described, {}};
};

// The results grid as the analyses see it.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void appendRow(const ResultRow& row) = 0;
};

// The questions an analysis asks the user; each front end writes its own text.
class Prompter {
public:
    virtual ~Prompter() = default;
    // The file a run reads (as named to it), told before anything about it.
    virtual void startFile(std::string_view /*path*/) {}
    // A failing line of a formatted list. True = Yes, go on.
    virtual bool askContinue(const FailingLine& line) = 0;
    // A run-time error that ends the free-text scan (OK button only).
    virtual void showError(const lookup::Error& error) = 0;
};

// Monotonic time, so that a run across midnight has its true duration.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point now() = 0;
};

class SteadyClock final : public Clock {
public:
    std::chrono::steady_clock::time_point now() override {
        return std::chrono::steady_clock::now();
    }
};

// Told how far the input has been read, now and then (never per line).
// Returning false cancels the run: it ends as No does at a prompt.
class Progress {
public:
    virtual ~Progress() = default;
    virtual bool update(std::uint64_t bytesRead, std::uint64_t bytesTotal) = 0;
};

}  // namespace ipcountry::analysis
