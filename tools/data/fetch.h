// Downloads with libcurl into a file, with the limits an unattended updater
// needs: a connect timeout, an overall timeout, an abort when a server stops
// sending, and a size limit. HTTPS only, unless the caller allows plain HTTP
// (for an address the user wrote out).
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ipcountry::data {

struct FetchOptions {
    long connectTimeoutSeconds = 30;
    long timeoutSeconds = 900;  // the whole transfer
    long stallSeconds = 60;     // nothing arrived for this long: the server has stalled
    std::uint64_t maxBytes = std::uint64_t{1} << 30;
    bool allowHttp = false;
    std::string userAgent = "ipcountry-update-data";
};

struct Fetched {
    bool found = true;               // false: the server says there is no such file (404, 410)
    std::int64_t lastModified = -1;  // the server's Last-Modified, seconds since 1970; -1 unknown
};

// A download that failed; what() is one line for a person. A transient
// failure (no connection, a reset or a timeout, HTTP 5xx, 408 or 429) may
// well succeed when tried again; any other (404, a file over the limit, a
// local write error) will not.
class FetchError : public std::runtime_error {
public:
    explicit FetchError(const std::string& what, bool transient = false,
                        long retryAfterSeconds = -1)
        : std::runtime_error(what), m_transient(transient), m_retryAfter(retryAfterSeconds) {}

    bool transient() const { return m_transient; }
    // The wait the server asked for (Retry-After), in seconds; -1 when it asked none.
    long retryAfterSeconds() const { return m_retryAfter; }

private:
    bool m_transient;
    long m_retryAfter;
};

// Writes what `url` answers into `file` (created or truncated). When
// `missingIsAnswer`, a 404 or 410 returns found = false instead of throwing.
Fetched fetchToFile(const std::string& url, const std::filesystem::path& file,
                    const FetchOptions& options, bool missingIsAnswer = false);

// True for the http:// and https:// addresses this program fetches.
bool isUrl(const std::string& text);

}  // namespace ipcountry::data
