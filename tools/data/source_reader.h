// The one path every source of an update goes down: fetch (retrying what is
// worth retrying), check against the checksum published beside it, read
// (whatever its kind or packing), date by what the data say. A named source
// is its rows of the source table; a FILE or URL is one file whose kind its
// content tells.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fetch.h"
#include "retry.h"
#include "source_file.h"
#include "source_table.h"

namespace ipcountry::data {

struct ReaderOptions {
    FetchOptions fetch;
    RetryPolicy retry;
    std::map<std::string, std::string, std::less<>> urls;  // --url NAME=URL
    bool requireChecksums = false;  // a registry file without NAME.md5 is refused
    std::string date;               // --date: YYYY-MM-DD for data that do not state theirs
};

// One file of a source, read.
struct SourcePart {
    SourceRows rows;
    std::string label;    // provenance.txt's ranges= line
    std::string licence;  // its ranges-licence= line
    std::string date;     // YYYY-MM-DD, or empty when nothing states it
};

// One file of a source of networks, read.
struct NetworkPart {
    AsData data;
    std::string label;    // provenance.txt's networks= line
    std::string licence;  // its networks-licence= line
    std::string date;     // YYYY-MM-DD, or empty when nothing states it
};

class SourceReader {
public:
    // Downloads go into `work`; `tell` hears warnings and retries, one line each.
    SourceReader(ReaderOptions options, std::filesystem::path work,
                 std::function<void(const std::string&)> tell);

    // Every file of `source` (a name of the table, an address or a file);
    // throws FetchError or SourceError with the reason, naming the address.
    std::vector<SourcePart> read(const std::string& source);
    // The same for a source of networks (--asn): a name of the table whose
    // files are networks, an address or a file.
    std::vector<NetworkPart> readNetworks(const std::string& source);

    // The address `feed` is fetched from: --url, then IPCOUNTRY_URL_NAME in
    // the environment, then the published one. `given` says the user chose
    // it (and so may use plain HTTP).
    std::string addressOf(std::string_view feed, bool& given) const;

private:
    SourcePart readFeed(std::string_view name);
    // Fetches `feed` (checked against its checksum where one is published)
    // into a scratch file; `url` and `fetched` tell where from and when.
    std::filesystem::path fetchFeed(const Feed& feed, std::string& url, Fetched& fetched);
    SourcePart readGiven(const std::string& source);
    Fetched fetch(const std::string& url, bool allowHttp, const std::filesystem::path& file,
                  bool missingIsAnswer);
    void checkSum(const std::string& name, const std::filesystem::path& file,
                  const std::optional<std::string>& sumText);
    SourcePart readFile(const std::filesystem::path& file, const std::string& name);
    std::filesystem::path scratch(const std::string& name);

    ReaderOptions m_options;
    std::filesystem::path m_work;
    std::function<void(const std::string&)> m_tell;
    int m_files = 0;
};

}  // namespace ipcountry::data
