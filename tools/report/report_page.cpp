#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>

#include "address_tally.h"
#include "analysis/flag_code.h"
#include "analysis/row_rules.h"
#include "analysis/statistics.h"
#include "lookup/address_text.h"
#include "report.h"

namespace ipcountry::report {

namespace {

// Texts from outside (file names, addresses, names) are cut here, so that a
// page stays small whatever they hold; a formatted list's address may be
// tens of kilobytes.
constexpr std::size_t kLongestText = 120;
// The data's sources: an attribution that a licence asks for is shown whole,
// though a data folder of the user's may hold any text.
constexpr std::size_t kLongestSourceLine = 1000;
// Files listed one by one; the rest are summed up in one line.
constexpr std::size_t kListedFiles = 200;

// The shares that split the shades, as "count * factor < total" tests:
// under 0.1 %, under 1 %, under 5 %, under 20 %, and the rest.
constexpr std::int64_t kShadeFactors[] = {1000, 100, 20, 5};
constexpr const char* kShadeLabels[] = {"no addresses",  "under 0.1\u202F%", "0.1 to 1\u202F%",
                                        "1 to 5\u202F%", "5 to 20\u202F%",   "20\u202F% and more"};

int shadeOf(std::int64_t count, std::int64_t total) {
    if (count <= 0 || total <= 0) return 0;
    int shade = 1;
    for (const std::int64_t factor : kShadeFactors) {
        if (count * factor < total) return shade;
        ++shade;
    }
    return shade;
}

// The length of the UTF-8 sequence that starts `text` at `i`, or 0 when
// the bytes there are not one.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t n = 0;
    unsigned min = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    unsigned value = lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return n;
}

// Text as the page shows it: markup characters escaped, bytes that are not
// UTF-8 and control characters as U+FFFD, at most `longest` characters.
void appendText(std::string& out, std::string_view text, std::size_t longest = kLongestText) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (++characters > longest) {
            out += "\u2026";
            return;
        }
        const std::size_t n = utf8Length(text, i);
        const char c = text[i];
        if (n == 0 || (n == 1 && ((c >= 0 && c < 0x20 && c != '\t') || c == 0x7F))) {
            out += "\uFFFD";
            i += n == 0 ? 1 : n;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.append(text.substr(i, n));
        }
        i += n;
    }
}

std::string text(std::string_view raw, std::size_t longest = kLongestText) {
    std::string out;
    appendText(out, raw, longest);
    return out;
}

// 1234567 as "1,234,567".
std::string grouped(std::int64_t value) {
    const std::string digits = std::to_string(value);
    const std::size_t sign = value < 0 ? 1 : 0;
    std::string out = digits.substr(0, sign);
    for (std::size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string bytesText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"bytes", "kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 4) {
        value /= 1000;
        ++unit;
    }
    if (unit == 0) return grouped(static_cast<std::int64_t>(bytes)) + " bytes";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f %s", value, kUnits[unit]);
    return buffer;
}

std::string share(std::int64_t count, std::int64_t total) {
    return analysis::formatShare(count, total, ".");
}

// A country as its title and its table row name it: "Germany (DE)".
std::string countryLabel(const std::string& name, const std::string& code) {
    if (name.empty()) return text(code);
    return text(name) + " (" + text(code) + ")";
}

constexpr std::string_view kStyle = R"(
:root{--ink:#1d2733;--muted:#5f6b7a;--line:#dde3ea;--sea:#f1f6fa;--accent:#1f5fa6}
*{box-sizing:border-box}
body{margin:0;color:var(--ink);background:#fff;font:15px/1.45 system-ui,"Segoe UI",Roboto,"DejaVu Sans",Arial,sans-serif}
main{max-width:1080px;margin:0 auto;padding:22px 20px 36px}
h1{font-size:1.55em;margin:0 0 2px}h2{font-size:1.15em;margin:26px 0 8px}
.sub{color:var(--muted);margin:0}
.facts{display:flex;flex-wrap:wrap;gap:10px;margin:16px 0 6px;padding:0;list-style:none}
.facts li{border:1px solid var(--line);border-radius:8px;padding:8px 14px;min-width:150px}
.facts b{display:block;font-size:1.45em;font-variant-numeric:tabular-nums}
.facts span{color:var(--muted);font-size:.9em}
.warn{background:#fff4e5;border:1px solid #f0c27b;border-radius:8px;padding:8px 12px}
.empty{background:var(--sea);border-radius:8px;padding:14px;font-size:1.1em}
svg.map{display:block;width:100%;height:auto}
.map .sea{fill:var(--sea);stroke:#c9d6e2;stroke-width:1.5}
.map path{stroke:#fff;stroke-width:.8;stroke-linejoin:round;fill-rule:evenodd}
.map path:hover,.map circle:hover{stroke:var(--ink);stroke-width:1.6}
.map circle{stroke:var(--ink);stroke-width:1.4}
.s0{fill:#dfe4e9;background:#dfe4e9}.s1{fill:#c6dbef;background:#c6dbef}
.s2{fill:#8fbfe0;background:#8fbfe0}.s3{fill:#4a94c9;background:#4a94c9}
.s4{fill:#1b62a8;background:#1b62a8}.s5{fill:#08306b;background:#08306b}
.legend{display:flex;flex-wrap:wrap;gap:4px 16px;margin:8px 0 0;padding:0;list-style:none;color:var(--muted);font-size:.9em}
.legend i{display:inline-block;width:22px;height:12px;border-radius:2px;margin-right:6px;vertical-align:-1px}
.legend i.dot{width:12px;height:12px;border-radius:50%;border:1.5px solid var(--ink);background:#fff}
.cols{display:grid;grid-template-columns:minmax(0,3fr) minmax(0,2fr);gap:28px}
@media (max-width:800px){.cols{grid-template-columns:1fr}}
table{border-collapse:collapse;width:100%}
th,td{padding:4px 8px;border-bottom:1px solid var(--line);text-align:left;vertical-align:top}
th{font-size:.88em;color:var(--muted);font-weight:600;white-space:nowrap}
th[data-sort]{cursor:pointer;user-select:none}
th[aria-sort=ascending]::after{content:" \25B2"}th[aria-sort=descending]::after{content:" \25BC"}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.code{color:var(--muted);font-family:ui-monospace,"DejaVu Sans Mono",monospace}
td.addr{font-family:ui-monospace,"DejaVu Sans Mono",monospace;word-break:break-all}
td.bar{width:28%;min-width:80px}td.place{white-space:nowrap}
.bar span{display:block;height:10px;border-radius:2px;background:var(--accent);min-width:1px}
tbody tr:hover{background:#f6f9fc}
details summary{cursor:pointer}
footer{margin-top:30px;border-top:1px solid var(--line);padding-top:10px;color:var(--muted);font-size:.88em}
footer p{margin:2px 0}
)";

// Sorts a table by the header clicked; each cell sorts by its data-v when it
// has one. It also leaves two marks for whoever checks the page in a
// browser: that it ran, and where the map landed.
constexpr std::string_view kScript = R"(
(function () {
  "use strict";
  function key(cell, numeric) {
    var v = cell.hasAttribute("data-v") ? cell.getAttribute("data-v") : cell.textContent;
    return numeric ? Number(v) : v.toLowerCase();
  }
  document.querySelectorAll("table.sortable").forEach(function (table) {
    var heads = table.tHead.rows[0].cells;
    Array.prototype.forEach.call(heads, function (th, column) {
      if (!th.hasAttribute("data-sort")) return;
      th.tabIndex = 0;
      function sort() {
        var numeric = th.getAttribute("data-sort") === "number";
        var first = numeric ? "descending" : "ascending";
        var order = th.getAttribute("aria-sort") === first
            ? (first === "ascending" ? "descending" : "ascending") : first;
        Array.prototype.forEach.call(heads, function (h) { h.removeAttribute("aria-sort"); });
        th.setAttribute("aria-sort", order);
        var sign = order === "ascending" ? 1 : -1;
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows);
        rows.sort(function (a, b) {
          var x = key(a.cells[column], numeric), y = key(b.cells[column], numeric);
          return x < y ? -sign : x > y ? sign : 0;
        });
        rows.forEach(function (row) { body.appendChild(row); });
      }
      th.addEventListener("click", sort);
      th.addEventListener("keydown", function (e) {
        if (e.key === "Enter" || e.key === " ") { e.preventDefault(); sort(); }
      });
    });
  });
  var map = document.querySelector("svg.map");
  if (map) {
    var r = map.getBoundingClientRect();
    document.body.setAttribute("data-map-box", [r.left + window.scrollX, r.top + window.scrollY,
        r.width, r.height].map(function (v) { return v.toFixed(2); }).join(" "));
  }
  document.body.setAttribute("data-script", "ran");
})();
)";

class Page {
public:
    explicit Page(const ReportInput& input) : m_in(input), m_names(input.names) {
        for (const CountryFacts& country : input.countries) {
            m_counts[country.code] += country.count;
            if (!country.name.empty()) m_names.emplace(country.code, country.name);
        }
        m_sorted = input.countries;
        std::stable_sort(m_sorted.begin(), m_sorted.end(), [](const auto& a, const auto& b) {
            return a.count != b.count ? a.count > b.count : a.name < b.name;
        });
    }

    std::string render() {
        m_out.reserve(std::size_t{256} << 10);
        head();
        m_out += "<body>\n<main>\n";
        summary();
        map();
        tables();
        files();
        footer();
        m_out += "</main>\n<script>";
        m_out += kScript;
        m_out += "</script>\n</body>\n</html>\n";
        return std::move(m_out);
    }

private:
    std::string nameOf(const std::string& code) const {
        const auto found = m_names.find(code);
        return found == m_names.end() ? std::string() : found->second;
    }

    void head() {
        m_out +=
            "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Addresses by country";
        if (!m_in.files.empty()) {
            m_out += ": ";
            appendText(m_out, m_in.files.front().name);
            if (m_in.files.size() > 1)
                m_out += " and " + grouped(static_cast<std::int64_t>(m_in.files.size() - 1)) +
                         (m_in.files.size() == 2 ? " more file" : " more files");
        }
        m_out += "</title>\n<style>";
        m_out += kStyle;
        m_out += "</style>\n</head>\n";
    }

    void summary() {
        m_out += "<h1>Where the addresses come from</h1>\n<p class=\"sub\">";
        std::uint64_t bytes = 0;
        bool allSized = true;
        for (const FileFacts& file : m_in.files) {
            if (file.bytes)
                bytes += *file.bytes;
            else
                allSized = false;
        }
        const std::size_t n = m_in.files.size();
        if (n == 1) {
            m_out += "<span id=\"first-file\">";
            appendText(m_out, m_in.files.front().name);
            m_out += "</span>";
        } else {
            m_out += grouped(static_cast<std::int64_t>(n)) + " files";
        }
        if (n > 0 && bytes > 0)
            m_out += std::string(", ") + (allSized ? "" : "at least ") + bytesText(bytes);
        m_out += ", read on " + text(m_in.startedAt) + "</p>\n";
        // Which rows were counted: a page read later must say so itself.
        m_out += "<p class=\"sub\" id=\"shaped-by\">";
        if (m_in.shapedBy.empty()) {
            m_out +=
                "Counted: every address, none left out by <code>--first</code>, "
                "<code>--only</code> or <code>--exclude</code>";
        } else {
            m_out += "Counted with ";
            for (std::size_t i = 0; i < m_in.shapedBy.size(); ++i) {
                if (i > 0) m_out += ", ";
                m_out += "<code>" + text(m_in.shapedBy[i]) + "</code>";
            }
        }
        m_out += "</p>\n";

        const auto countries = static_cast<std::int64_t>(m_in.countries.size());
        const double seconds = std::chrono::duration<double>(m_in.elapsed).count();
        // Seconds say more than 0:00:00 for the short runs most are.
        char secondsText[32];
        std::snprintf(secondsText, sizeof secondsText, "%.2f\u202Fs", seconds);
        const std::string elapsed =
            seconds < 60 ? std::string(secondsText) : text(analysis::durationText(m_in.elapsed));
        m_out += "<ul class=\"facts\">\n<li><b id=\"total\">" + grouped(m_in.total) +
                 "</b><span>addresses</span></li>\n<li><b id=\"countries\">" + grouped(countries) +
                 "</b><span>" + (countries == 1 ? "country" : "countries") +
                 "</span></li>\n<li><b id=\"elapsed\">" + elapsed +
                 "</b><span>elapsed</span></li>\n";
        if (!m_sorted.empty())
            m_out += "<li><b>" + share(m_sorted.front().count, m_in.total) + "</b><span>from " +
                     (m_sorted.front().name.empty() ? text(m_sorted.front().code)
                                                    : text(m_sorted.front().name)) +
                     "</span></li>\n";
        m_out += "</ul>\n";

        std::size_t incomplete = 0;
        for (const FileFacts& file : m_in.files) incomplete += file.complete ? 0 : 1;
        if (incomplete > 0)
            m_out += "<p class=\"warn\" id=\"incomplete\">" +
                     grouped(static_cast<std::int64_t>(incomplete)) +
                     (incomplete == 1 ? " file was" : " files were") +
                     " not read to the end; the figures count the addresses found before the "
                     "problem (see the list of files below).</p>\n";
        if (m_in.total == 0)
            m_out +=
                "<p class=\"empty\" id=\"no-addresses\">There were no addresses in what was "
                "read.</p>\n";
    }

    void map() {
        m_out += "<h2>Map</h2>\n";
        if (m_in.map == nullptr) {
            m_out += "<p class=\"warn\" id=\"no-map\">No map: ";
            appendText(m_out, m_in.mapProblem);
            m_out += "</p>\n";
            return;
        }
        const WorldMap& map = *m_in.map;
        m_out += "<svg class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                 std::to_string(map.width) + " " + std::to_string(map.height) +
                 "\" role=\"img\" aria-label=\"World map: countries shaded by their share of "
                 "the addresses\">\n";
        if (!map.outline.empty()) m_out += "<path class=\"sea\" d=\"" + map.outline + "\"/>\n";
        std::string markers;
        for (const MapShape& shape : map.shapes) {
            if (shape.code == "-") {
                if (!shape.path.empty()) m_out += "<path class=\"s0\" d=\"" + shape.path + "\"/>\n";
                continue;
            }
            const auto counted = m_counts.find(shape.code);
            const std::int64_t count = counted == m_counts.end() ? 0 : counted->second;
            const std::string cls = "s" + std::to_string(shadeOf(count, m_in.total));
            const std::string title =
                "<title>" + countryLabel(nameOf(shape.code), shape.code) + ": " +
                (count == 0 ? std::string("no addresses")
                            : grouped(count) + (count == 1 ? " address, " : " addresses, ") +
                                  share(count, m_in.total)) +
                "</title>";
            if (!shape.path.empty())
                m_out += "<path class=\"" + cls + "\" data-code=\"" + shape.code + "\" d=\"" +
                         shape.path + "\">" + title + "</path>\n";
            // Drawn last, so that no shape covers them.
            if (count > 0 && shape.marker)
                markers += "<circle class=\"" + cls + "\" data-code=\"" + shape.code + "\" cx=\"" +
                           std::to_string(shape.marker->first) + "\" cy=\"" +
                           std::to_string(shape.marker->second) + "\" r=\"7\">" + title +
                           "</circle>\n";
        }
        m_out += markers;
        m_out += "</svg>\n<ul class=\"legend\">";
        for (int shade = 0; shade < 6; ++shade)
            m_out += "<li><i class=\"s" + std::to_string(shade) + "\"></i>" + kShadeLabels[shade] +
                     "</li>";
        m_out += "<li><i class=\"dot\"></i>a country too small to see</li></ul>\n";

        std::string missing;
        for (const CountryFacts& country : m_sorted) {
            if (map.find(country.code) != nullptr) continue;
            missing += missing.empty() ? "" : ", ";
            missing += countryLabel(country.name, country.code) + " " + grouped(country.count);
        }
        if (!missing.empty())
            m_out += "<p class=\"sub\" id=\"not-on-map\">Counted but not on the map: " + missing +
                     ".</p>\n";
    }

    void tables() {
        if (m_in.total == 0) return;
        m_out +=
            "<div class=\"cols\">\n<section>\n<h2>Countries</h2>\n"
            "<table class=\"sortable\" id=\"countries-table\">\n<thead><tr>"
            "<th class=\"n\" data-sort=\"number\">#</th><th data-sort=\"text\">Country</th>"
            "<th data-sort=\"text\">Code</th><th class=\"n\" data-sort=\"number\">"
            "Addresses</th><th class=\"n\" data-sort=\"number\">Share</th>"
            "<th class=\"n\" data-sort=\"number\">Clients</th><th></th>"
            "</tr></thead>\n<tbody>\n";
        const std::int64_t most =
            m_sorted.empty() ? 1 : std::max<std::int64_t>(1, m_sorted[0].count);
        int rank = 0;
        for (const CountryFacts& country : m_sorted) {
            const std::string count = std::to_string(country.count);
            char width[16];
            std::snprintf(width, sizeof width, "%.1f",
                          100.0 * static_cast<double>(country.count) / static_cast<double>(most));
            ++rank;
            m_out +=
                "<tr><td class=\"n\">" + std::to_string(rank) + "</td><td>" + text(country.name) +
                "</td><td class=\"code\">" + text(country.code) + "</td><td class=\"n\" data-v=\"" +
                count + "\">" + grouped(country.count) + "</td><td class=\"n\" data-v=\"" + count +
                "\">" + share(country.count, m_in.total) + "</td><td class=\"n\" data-v=\"" +
                std::to_string(country.clients) + "\">" + grouped(country.clients) +
                "</td><td class=\"bar\"><span style=\"width:" + width + "%\"></span></td></tr>\n";
        }
        m_out +=
            "</tbody>\n</table>\n</section>\n<section>\n<h2>Busiest addresses</h2>\n"
            "<table id=\"addresses-table\">\n<thead><tr><th class=\"n\">#</th>"
            "<th>Address</th><th>Country</th>";
        if (m_in.hasNetworks) m_out += "<th>Network</th>";
        m_out +=
            "<th class=\"n\">Rows</th></tr></thead>\n"
            "<tbody>\n";
        rank = 0;
        for (const AddressFacts& address : m_in.topAddresses) {
            if (static_cast<std::size_t>(rank) == kTopAddresses) break;
            ++rank;
            m_out += "<tr><td class=\"n\">" + std::to_string(rank) + "</td><td class=\"addr\">" +
                     text(address.address) + "</td><td class=\"place\">" +
                     (address.country.empty() ? text(address.code) : text(address.country)) +
                     "</td>";
            if (m_in.hasNetworks) {
                const std::size_t i = static_cast<std::size_t>(rank - 1);
                m_out += "<td class=\"net\">" +
                         (i < m_in.topAddressNetworks.size() ? text(m_in.topAddressNetworks[i])
                                                             : std::string()) +
                         "</td>";
            }
            m_out += "<td class=\"n\">" + grouped(address.count) + "</td></tr>\n";
        }
        m_out += "</tbody>\n</table>\n</section>\n</div>\n";
        networks();
        if (m_in.reasons.empty()) return;
        m_out +=
            "<section>\n<h2>Addresses without a country</h2>\n"
            "<table id=\"reasons-table\">\n<thead><tr><th>Reason</th>"
            "<th class=\"n\">Addresses</th><th class=\"n\">Share</th></tr></thead>\n<tbody>\n";
        for (const auto& [reason, count] : m_in.reasons)
            m_out += "<tr><td>" + text(reason) + "</td><td class=\"n\">" + grouped(count) +
                     "</td><td class=\"n\">" + share(count, m_in.total) + "</td></tr>\n";
        m_out += "</tbody>\n</table>\n</section>\n";
    }

    // The busiest networks, after the busiest addresses.
    void networks() {
        if (!m_in.hasNetworks) return;
        m_out +=
            "<section>\n<h2>Busiest networks</h2>\n"
            "<table id=\"networks-table\">\n<thead><tr><th class=\"n\">#</th><th>AS</th>"
            "<th>Operator</th><th>Country</th><th class=\"n\">Rows</th>"
            "<th class=\"n\">Share</th></tr></thead>\n<tbody>\n";
        int rank = 0;
        for (const NetworkFacts& network : m_in.networks) {
            if (static_cast<std::size_t>(rank) == kTopNetworks) break;
            ++rank;
            m_out += "<tr><td class=\"n\">" + std::to_string(rank) + "</td><td>AS" +
                     std::to_string(network.number) + "</td><td>" + text(network.name) +
                     "</td><td>" + text(network.country) + "</td><td class=\"n\">" +
                     grouped(network.count) + "</td><td class=\"n\">" +
                     share(network.count, m_in.total) + "</td></tr>\n";
        }
        m_out += "</tbody>\n</table>\n</section>\n";
    }

    void files() {
        const std::size_t n = m_in.files.size();
        m_out += "<h2>Files read</h2>\n";
        // A long list of files folds away, and lives without the script.
        if (n > 5)
            m_out +=
                "<details><summary>" + grouped(static_cast<std::int64_t>(n)) + " files</summary>\n";
        m_out +=
            "<table id=\"files-table\">\n<thead><tr><th>File</th><th class=\"n\">Size</th>"
            "<th>Read</th></tr></thead>\n<tbody>\n";
        std::uint64_t restBytes = 0;
        std::size_t rest = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const FileFacts& file = m_in.files[i];
            if (i >= kListedFiles) {
                ++rest;
                restBytes += file.bytes.value_or(0);
                continue;
            }
            m_out += "<tr><td class=\"addr\">" +
                     (file.name == "-" ? std::string("standard input") : text(file.name)) +
                     "</td><td class=\"n\">" +
                     (file.bytes ? bytesText(*file.bytes) : std::string("\u2013")) + "</td><td>" +
                     (file.complete ? "to the end" : "<b>not to the end</b>") + "</td></tr>\n";
        }
        if (rest > 0)
            m_out += "<tr><td>and " + grouped(static_cast<std::int64_t>(rest)) +
                     " more</td><td class=\"n\">" + bytesText(restBytes) + "</td><td></td></tr>\n";
        m_out += "</tbody>\n</table>\n";
        if (n > 5) m_out += "</details>\n";
    }

    void footer() {
        m_out += "<footer>\n";
        for (const std::string& line : m_in.provenance)
            m_out += "<p>" + text(line, kLongestSourceLine) + "</p>\n";
        if (m_in.map != nullptr && !m_in.map->source.empty())
            m_out += "<p>Map shapes: " + text(m_in.map->source) +
                     "; made with Natural Earth, free vector and raster map data "
                     "(naturalearthdata.com).</p>\n";
        m_out += "</footer>\n";
    }

    const ReportInput& m_in;
    std::map<std::string, std::string> m_names;    // by map code
    std::map<std::string, std::int64_t> m_counts;  // by map code
    std::vector<CountryFacts> m_sorted;            // the most addresses first
    std::string m_out;
};

}  // namespace

void addCounts(ReportInput& input, const lookup::CountryTable& table, AddressTally& tally) {
    const auto codeOf = [&table](int slot) {
        return lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(table, slot));
    };
    const std::vector<std::int64_t> clients = tally.distinctBySlot();
    for (int slot = 0; slot < table.slotCount(); ++slot) {
        const std::string code = codeOf(slot);
        const std::string name = lookup::windows1252ToUtf8(table.slotName(slot));
        if (table.slotFilled(slot) && !name.empty()) input.names.emplace(code, name);
        if (table.slotHits(slot) > 0)
            input.countries.push_back(CountryFacts{code, name, table.slotHits(slot),
                                                   clients[static_cast<std::size_t>(slot)]});
    }
    input.total = tally.rows();
    // An address is named as the driver's rows name it; the countries above
    // as the statistics do (the slot's own name, the US's too).
    for (const AddressTally::Entry& entry : tally.top(kTopAddresses))
        input.topAddresses.push_back(AddressFacts{
            lookup::windows1252ToUtf8(entry.address),
            entry.reason.empty() ? lookup::windows1252ToUtf8(analysis::countryName(
                                       table, analysis::Resolution{entry.slot, entry.usa}))
                                 : std::string(entry.reason),
            entry.reason.empty() ? codeOf(entry.slot) : std::string(), entry.rows});
    for (std::size_t i = 0; i < tally.reasons().size(); ++i)
        if (tally.reasons()[i] > 0)
            input.reasons.emplace_back(analysis::kNoCountryReasons[i], tally.reasons()[i]);
}

namespace {

std::optional<lookup::AsNetwork> networkOfText(const lookup::AsFile& networks,
                                               std::string_view address) {
    const lookup::AddressReading reading = lookup::readAddressText(address);
    if (!reading.reason.empty()) return std::nullopt;
    switch (reading.typed.kind) {
        case lookup::TypedAddress::Kind::Ipv4:
            return networks.find(reading.typed.ipv4);
        case lookup::TypedAddress::Kind::Ipv6:
            return networks.find(reading.typed.ipv6);
        case lookup::TypedAddress::Kind::LinkLocal:
            break;
    }
    return std::nullopt;
}

}  // namespace

void addNetworks(ReportInput& input, const lookup::CountryTable& table, AddressTally& tally,
                 const lookup::AsFile& networks) {
    input.hasNetworks = true;
    struct Counted {
        std::string_view name;
        std::int64_t count = 0;
        std::map<std::pair<int, bool>, std::int64_t> countries;
    };
    std::map<std::uint32_t, Counted> counted;
    for (const AddressTally::Entry& entry : tally.all()) {
        const auto network = networkOfText(networks, entry.address);
        if (!network) continue;
        Counted& c = counted[network->number];
        c.name = network->name;
        c.count += entry.rows;
        if (entry.reason.empty()) c.countries[{entry.slot, entry.usa}] += entry.rows;
    }
    for (const auto& [number, c] : counted) {
        NetworkFacts facts{number, std::string(c.name), {}, c.count};
        for (const auto& [country, count] : c.countries)
            if (count * 2 > c.count)
                facts.country = lookup::windows1252ToUtf8(analysis::countryName(
                    table, analysis::Resolution{country.first, country.second}));
        input.networks.push_back(std::move(facts));
    }
    // The most rows first, equal counts by number, so that the page is the same on every run.
    std::stable_sort(
        input.networks.begin(), input.networks.end(),
        [](const NetworkFacts& a, const NetworkFacts& b) { return a.count > b.count; });
    if (input.networks.size() > kTopNetworks) input.networks.resize(kTopNetworks);
    input.topAddressNetworks.clear();
    for (const AddressFacts& address : input.topAddresses) {
        const auto network = networkOfText(networks, address.address);
        input.topAddressNetworks.push_back(network ? "AS" + std::to_string(network->number) + " " +
                                                         std::string(network->name)
                                                   : std::string());
    }
}

std::string renderReport(const ReportInput& input) { return Page(input).render(); }

}  // namespace ipcountry::report
