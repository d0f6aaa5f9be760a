#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "lookup/country_table.h"

namespace ipcountry::analysis {

// A row as the grid and the driver keep it: address, TAB, port, TAB, country,
// the file's 8-bit texts as UTF-8, appended to `out`.
inline void appendResultRow(std::string& out, std::string_view ip, std::string_view port,
                            std::string_view country) {
    out.reserve(out.size() + ip.size() + port.size() + country.size() + 2);
    lookup::appendWindows1252AsUtf8(out, ip);
    out += '\t';
    lookup::appendWindows1252AsUtf8(out, port);
    out += '\t';
    lookup::appendWindows1252AsUtf8(out, country);
}

// The results grid as the analyses see it. Texts are the file's own 8-bit
// characters (the country name as Country.dbf holds it); the grid decides how
// to show them. `slot` is the country-table slot the row was counted in, kept
// with the row so that removing the row can take its count back.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void appendRow(std::string_view ip, std::string_view port, std::string_view country,
                           int slot) = 0;
};

// The questions an analysis asks the user.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A failing line of a formatted list: `message` is the whole prompt text,
    // "Error due to wrong data entered! <description>\r\nDo you want continue?".
    // `lineNumber` counts from 1 (0 when the list itself failed). True = Yes.
    virtual bool askContinue(std::string_view message, std::int64_t lineNumber) = 0;
    // A run-time error that ends the free-text scan (OK button only).
    virtual void showError(std::string_view message) = 0;
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
