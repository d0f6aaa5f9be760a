#include "source_reader.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <utility>

#include "checksum.h"
#include "source_table.h"

namespace ipcountry::data {
namespace fs = std::filesystem;
namespace {

constexpr const char* kUnknownTerms = "not known: see the terms of its publisher";

std::string readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Names the address in an error: a named source fetches several.
template <class Error>
[[noreturn]] void rethrowNamed(const std::string& name, const Error& e) {
    throw Error(name + ": " + e.what());
}

}  // namespace

SourceReader::SourceReader(ReaderOptions options, fs::path work,
                           std::function<void(const std::string&)> tell)
    : m_options(std::move(options)), m_work(std::move(work)), m_tell(std::move(tell)) {}

std::vector<SourcePart> SourceReader::read(const std::string& source) {
    std::vector<SourcePart> parts;
    if (const NamedSource* named = findNamedSource(source)) {
        for (const std::string_view feed : named->feeds) parts.push_back(readFeed(feed));
    } else {
        parts.push_back(readGiven(source));
    }
    return parts;
}

std::string SourceReader::addressOf(std::string_view name, bool& given) const {
    given = true;
    if (const auto it = m_options.urls.find(name); it != m_options.urls.end()) return it->second;
    std::string variable = "IPCOUNTRY_URL_";
    for (const char c : name)
        variable += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && value[0] != '\0')
        return value;
    given = false;
    return std::string(findFeed(name)->address);
}

fs::path SourceReader::scratch(const std::string& name) {
    return m_work / (std::to_string(++m_files) + "-" + name);
}

Fetched SourceReader::fetch(const std::string& url, bool allowHttp, const fs::path& file,
                            bool missingIsAnswer) {
    FetchOptions settings = m_options.fetch;
    settings.allowHttp = allowHttp;
    Fetched fetched;
    withRetries(
        m_options.retry, [&] { fetched = fetchToFile(url, file, settings, missingIsAnswer); },
        [&](const std::string& line) { m_tell(url + ": " + line); });
    return fetched;
}

// A registry file is checked against the checksum published beside it; one
// without is read on its record counts alone, which the user hears about.
void SourceReader::checkSum(const std::string& name, const fs::path& file,
                            const std::optional<std::string>& sumText) {
    if (!sumText) {
        if (m_options.requireChecksums)
            throw SourceError(name + ": no checksum file " + name +
                              ".md5 beside it, and --require-checksums is given");
        m_tell(name + ": no checksum file " + name + ".md5 beside it: read unchecked");
        return;
    }
    const auto expected = parseMd5File(*sumText);
    if (!expected) throw SourceError(name + ".md5: holds no checksum in either form");
    const std::string actual = md5OfFile(file);
    if (actual != *expected)
        throw SourceError(name + ": the checksum does not match: MD5 " + actual + ", " + name +
                          ".md5 says " + *expected);
}

SourcePart SourceReader::readFile(const fs::path& file, const std::string& name) {
    SourcePart part;
    part.rows = readSourceFile(file, m_work, m_options.fetch.maxBytes);
    part.label = name;
    part.licence = kUnknownTerms;
    const std::string& description = part.rows.description;
    if (part.rows.kind == SourceRows::Kind::Mmdb && !description.empty())
        part.label = description + " " + name;
    if (part.rows.kind == SourceRows::Kind::Registry) {
        part.label = "registry " + description + " " + name;
        const Feed* feed = findFeed(description);
        if (feed != nullptr && feed->kind == SourceRows::Kind::Registry)
            part.licence = feed->licence;
    }
    // The data's own date first; the user's for data that state none.
    part.date = !part.rows.date.empty() ? part.rows.date : m_options.date;
    return part;
}

fs::path SourceReader::fetchFeed(const Feed& feed, std::string& url, Fetched& fetched) {
    const std::string_view name = feed.name;
    bool given = false;
    url = addressOf(name, given);
    const fs::path file = scratch(std::string(name));
    try {
        if (!feed.monthly() || given) {
            fetched = fetch(url, given, file, false);
        } else {
            // Early in a month its file may not be out yet: last month's is then the newest.
            const std::string pattern = url;
            const std::time_t now = std::time(nullptr);
            for (int back = 0;; ++back) {
                std::tm utc{};
                gmtime_r(&now, &utc);
                utc.tm_mday = 1;
                utc.tm_mon -= back;
                const std::time_t month = timegm(&utc);
                gmtime_r(&month, &utc);
                char text[256];
                std::strftime(text, sizeof text, pattern.c_str(), &utc);
                url = text;
                fetched = fetch(url, false, file, back == 0);
                if (fetched.found) break;
            }
        }
    } catch (const FetchError& e) {
        rethrowNamed(url, e);
    }
    if (feed.checksumBeside) {
        const fs::path sumFile = scratch(std::string(name) + ".md5");
        std::optional<std::string> sumText;
        try {
            if (fetch(url + ".md5", given, sumFile, true).found) sumText = readSmallFile(sumFile);
        } catch (const FetchError& e) {
            rethrowNamed(url + ".md5", e);
        }
        checkSum(url, file, sumText);
    }
    return file;
}

SourcePart SourceReader::readFeed(std::string_view name) {
    const Feed& feed = *findFeed(name);
    if (feed.kind == SourceRows::Kind::Networks)
        throw SourceError(std::string(name) + ": a source of networks, which --asn takes");
    std::string url;
    Fetched fetched;
    const fs::path file = fetchFeed(feed, url, fetched);
    SourcePart part;
    try {
        part = readFile(file, url);
    } catch (const SourceError& e) {
        rethrowNamed(url, e);
    }
    if (feed.kind == SourceRows::Kind::Registry && part.rows.kind != SourceRows::Kind::Registry)
        throw SourceError(url + ": not a registry statistics file");
    if (part.rows.kind != SourceRows::Kind::Registry) {
        part.label = std::string(feed.label) + " " + url;
        part.licence = feed.licence;
    }
    if (part.rows.date.empty() && feed.dated == Feed::Dated::ByServer && fetched.lastModified > 0)
        part.date = isoDate(static_cast<std::time_t>(fetched.lastModified));
    return part;
}

SourcePart SourceReader::readGiven(const std::string& source) {
    const std::uint64_t limit = m_options.fetch.maxBytes;
    if (isUrl(source)) {
        const fs::path file = scratch("download");
        fetch(source, true, file, false);
        if (sourceKind(file, limit) == SourceRows::Kind::Registry) {
            const fs::path sumFile = scratch("download.md5");
            std::optional<std::string> sumText;
            try {
                if (fetch(source + ".md5", true, sumFile, true).found)
                    sumText = readSmallFile(sumFile);
            } catch (const FetchError& e) {
                rethrowNamed(source + ".md5", e);
            }
            checkSum(source, file, sumText);
        }
        return readFile(file, source);
    }
    const std::string name = fs::absolute(source).string();
    if (sourceKind(source, limit) == SourceRows::Kind::Registry) {
        std::optional<std::string> sumText;
        if (fs::exists(source + ".md5")) sumText = readSmallFile(source + ".md5");
        checkSum(source, source, sumText);
    }
    return readFile(source, name);
}

std::vector<NetworkPart> SourceReader::readNetworks(const std::string& source) {
    std::vector<NetworkPart> parts;
    const auto read = [&](const fs::path& file, const std::string& name) {
        NetworkPart part;
        try {
            part.data = readNetworkSourceFile(file, m_work, m_options.fetch.maxBytes);
        } catch (const SourceError& e) {
            rethrowNamed(name, e);
        }
        part.label = part.data.description.empty() ? name : part.data.description + " " + name;
        part.licence = kUnknownTerms;
        // The data's own date first; the user's for data that state none.
        part.date = part.data.buildEpoch > 0
                        ? isoDate(static_cast<std::time_t>(part.data.buildEpoch))
                        : m_options.date;
        return part;
    };
    if (const NamedSource* named = findNamedSource(source)) {
        for (const std::string_view name : named->feeds) {
            const Feed& feed = *findFeed(name);
            if (feed.kind != SourceRows::Kind::Networks)
                throw SourceError(source + ": a source of country ranges, not of networks");
            std::string url;
            Fetched fetched;
            const fs::path file = fetchFeed(feed, url, fetched);
            NetworkPart part = read(file, url);
            part.label = std::string(feed.label) + " " + url;
            part.licence = feed.licence;
            if (part.data.buildEpoch == 0 && fetched.lastModified > 0)
                part.date = isoDate(static_cast<std::time_t>(fetched.lastModified));
            parts.push_back(std::move(part));
        }
        return parts;
    }
    if (isUrl(source)) {
        const fs::path file = scratch("download");
        fetch(source, true, file, false);
        parts.push_back(read(file, source));
    } else {
        parts.push_back(read(source, fs::absolute(source).string()));
    }
    return parts;
}

}  // namespace ipcountry::data
