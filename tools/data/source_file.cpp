#include "source_file.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <istream>
#include <memory>
#include <new>
#include <streambuf>
#include <string_view>

#include "analysis/input_source.h"
#include "lookup/text_file.h"
#include "mmdb_reader.h"
#include "registry_file.h"

namespace ipcountry::data {
namespace {

// The text of an input source as a std::istream, so that the converter's
// readers take compressed files as they are; stops with SourceError past the limit.
class InputBuffer : public std::streambuf {
public:
    InputBuffer(std::unique_ptr<analysis::InputSource> source, std::uint64_t limit)
        : m_source(std::move(source)), m_limit(limit) {}

    std::uint64_t total() const { return m_total; }

protected:
    int_type underflow() override {
        std::size_t got = 0;
        for (;;) {
            const auto status = m_source->read(m_buffer, sizeof m_buffer, got);
            if (status == analysis::InputSource::Status::End) return traits_type::eof();
            if (status == analysis::InputSource::Status::Data && got > 0) break;
        }
        m_total += got;
        if (m_total > m_limit)
            throw SourceError("unpacks to more than the limit of " + std::to_string(m_limit >> 20) +
                              " MB");
        setg(m_buffer, m_buffer, m_buffer + got);
        return traits_type::to_int_type(m_buffer[0]);
    }

private:
    std::unique_ptr<analysis::InputSource> m_source;
    std::uint64_t m_limit;
    std::uint64_t m_total = 0;
    char m_buffer[1 << 16];
};

// Hands `read` an istream over the text of `file`. With badbit in its
// exception mask the stream rethrows its buffer's own exception (a damaged
// archive, the limit) instead of ending quietly as at the end of the text.
template <class Read>
auto readText(const std::filesystem::path& file, std::uint64_t limit, Read read) {
    InputBuffer buffer(analysis::openInput(file.string()), limit);
    std::istream in(&buffer);
    in.exceptions(std::ios::badbit);
    return read(in);
}

// The start of the text: enough to tell a MaxMind DB (binary) from a
// registry file (its version line) from a CSV.
std::string head(const std::filesystem::path& file, std::uint64_t limit) {
    auto source = analysis::openInput(file.string());
    std::string text(4096, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        std::size_t got = 0;
        const auto status = source->read(text.data() + filled, text.size() - filled, got);
        if (status == analysis::InputSource::Status::End) break;
        filled += got;
    }
    text.resize(std::min<std::uint64_t>(filled, limit));
    return text;
}

// Text has no NUL: one in the first bytes makes a file worth looking at as a
// MaxMind DB, which its metadata marker then decides.
bool mayBeBinary(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// A MaxMind DB ends with its metadata, which starts with this marker
// somewhere in the last 128 KiB of the file.
bool hasMmdbMetadataMarker(const std::filesystem::path& plain) {
    constexpr std::string_view kMarker = "\xAB\xCD\xEFMaxMind.com";
    constexpr std::uintmax_t kMetadataWithin = 128 * 1024;
    std::ifstream in(plain, std::ios::binary);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(plain, ec);
    if (!in || ec) return false;
    const std::uintmax_t from = size > kMetadataWithin ? size - kMetadataWithin : 0;
    in.seekg(static_cast<std::streamoff>(from));
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    tail.resize(static_cast<std::size_t>(in.gcount()));
    return tail.find(kMarker) != std::string::npos;
}

std::string firstDataLine(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line != "\r" && line[0] != '#') return std::string(line);
        start = end + 1;
    }
    return {};
}

// A MaxMind DB is read from a plain file: one packed is unpacked first.
std::filesystem::path unpacked(const std::filesystem::path& file,
                               const std::filesystem::path& scratch, std::uint64_t limit) {
    const std::filesystem::path plain = scratch / (file.filename().string() + ".unpacked");
    auto source = analysis::openInput(file.string());
    std::ofstream out(plain, std::ios::binary | std::ios::trunc);
    std::uint64_t total = 0;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        std::size_t got = 0;
        const auto status = source->read(buffer.data(), buffer.size(), got);
        if (status == analysis::InputSource::Status::End) break;
        total += got;
        if (total > limit)
            throw SourceError("unpacks to more than the limit of " + std::to_string(limit >> 20) +
                              " MB");
        out.write(buffer.data(), static_cast<std::streamsize>(got));
    }
    out.close();
    if (!out) throw SourceError("cannot unpack into " + plain.string());
    return plain;
}

}  // namespace

std::string isoDate(std::time_t seconds) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
    return text;
}

SourceRows::Kind sourceKind(const std::filesystem::path& file, std::uint64_t maxBytes) {
    const std::string start = head(file, maxBytes);
    // Callers ask whether it is a registry file; a NUL rules that out, and
    // readSourceFile tells a MaxMind DB by its metadata marker.
    if (mayBeBinary(start)) return SourceRows::Kind::Mmdb;
    return isRegistryVersionLine(firstDataLine(start)) ? SourceRows::Kind::Registry
                                                       : SourceRows::Kind::Csv;
}

namespace {

SourceRows readSource(const std::filesystem::path& file, const std::filesystem::path& scratch,
                      std::uint64_t maxBytes) {
    SourceRows rows;
    const std::string start = head(file, maxBytes);
    if (start.empty()) throw SourceError("the file is empty");
    std::filesystem::path plain;
    if (mayBeBinary(start)) {
        plain = unpacked(file, scratch, maxBytes);
        if (!hasMmdbMetadataMarker(plain)) {
            std::filesystem::remove(plain);
            plain.clear();
        }
    }
    if (!plain.empty()) {
        rows.kind = SourceRows::Kind::Mmdb;
        MmdbCountries db = readMmdbCountries(plain.string());
        std::filesystem::remove(plain);
        rows.ipv4 = std::move(db.ipv4);
        rows.ipv6 = std::move(db.ipv6);
        if (db.buildEpoch > 0) rows.date = isoDate(static_cast<std::time_t>(db.buildEpoch));
        rows.description = db.databaseType;
    } else if (isRegistryVersionLine(firstDataLine(start))) {
        rows.kind = SourceRows::Kind::Registry;
        RegistryFile registry =
            readText(file, maxBytes, [](std::istream& in) { return parseRegistryFile(in); });
        rows.ipv4 = std::move(registry.ipv4);
        rows.ipv6 = std::move(registry.ipv6);
        if (registry.endDate.size() == 8)
            rows.date = registry.endDate.substr(0, 4) + "-" + registry.endDate.substr(4, 2) + "-" +
                        registry.endDate.substr(6, 2);
        rows.description = registry.registry;
    } else {
        rows.kind = SourceRows::Kind::Csv;
        // A CSV may hold both families: it is read once for each. Plain
        // numbers say nothing of their family: a file whose numbers go past
        // 32 bits holds IPv6 addresses, any other IPv4 ones, never both.
        const auto csv = [&](auto family, PlainNumbers numbers, ParseSummary* summary) {
            return readText(file, maxBytes, [&](std::istream& in) {
                return parseRangeCsv<decltype(family)>(in, summary, numbers);
            });
        };
        ParseSummary seen;
        rows.ipv6 = csv(Address6{}, PlainNumbers::PassOver, &seen);
        if (seen.numbers > 0 && seen.wideNumbers) {
            rows.ipv6 = csv(Address6{}, PlainNumbers::Read, &rows.csv6);
            rows.ipv4 = csv(std::uint32_t{}, PlainNumbers::PassOver, &rows.csv4);
        } else {
            rows.csv6 = seen;
            rows.ipv4 = csv(std::uint32_t{}, PlainNumbers::Read, &rows.csv4);
        }
    }
    if (rows.ipv4.empty() && rows.ipv6.empty()) throw SourceError("holds no country ranges");
    return rows;
}

}  // namespace

AsData readNetworkSourceFile(const std::filesystem::path& file,
                             const std::filesystem::path& scratch, std::uint64_t maxBytes) {
    try {
        if (head(file, maxBytes).empty()) throw SourceError("the file is empty");
        // Unpacked first whatever it is: a MaxMind DB is read from a plain file,
        // and the text kinds are read whole.
        const std::filesystem::path plain = unpacked(file, scratch, maxBytes);
        struct Remove {
            const std::filesystem::path& path;
            ~Remove() {
                std::error_code ec;
                std::filesystem::remove(path, ec);
            }
        } remove{plain};
        if (hasMmdbMetadataMarker(plain)) return readAsMmdb(plain.string());
        const std::string text = lookup::readWholeFile(plain, maxBytes);
        if (mayBeBinary(text)) throw SourceError("neither a MaxMind DB nor text");
        if (firstDataLine(text).find('\t') != std::string::npos) return readIp2asnTsv(text);
        return readAsCsv(text);
    } catch (const std::bad_alloc&) {
        throw SourceError("out of memory while reading " + file.string());
    }
}

SourceRows readSourceFile(const std::filesystem::path& file, const std::filesystem::path& scratch,
                          std::uint64_t maxBytes) {
    try {
        return readSource(file, scratch, maxBytes);
    } catch (const std::bad_alloc&) {
        throw SourceError("out of memory while reading " + file.string());
    }
}

}  // namespace ipcountry::data
