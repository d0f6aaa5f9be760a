#include "fetch.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace ipcountry::data {
namespace {

struct Sink {
    std::FILE* file = nullptr;
    std::uint64_t written = 0;
    std::uint64_t limit = 0;
    bool tooLarge = false;
    int writeErrno = 0;
};

std::size_t write(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    if (sink->written + bytes > sink->limit) {
        sink->tooLarge = true;
        return 0;  // anything but `bytes` makes curl stop with a write error
    }
    if (std::fwrite(data, 1, bytes, sink->file) != bytes) {
        sink->writeErrno = errno;
        return 0;
    }
    sink->written += bytes;
    return bytes;
}

// The failures of libcurl that another attempt may get past: the network or
// the server, not this program or the address.
bool transientCode(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_SSL_CONNECT_ERROR:
            return true;
        default:
            return false;
    }
}

bool transientStatus(long status) { return status >= 500 || status == 408 || status == 429; }

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

}  // namespace

bool isUrl(const std::string& text) {
    return text.starts_with("https://") || text.starts_with("http://");
}

Fetched fetchToFile(const std::string& url, const std::filesystem::path& file,
                    const FetchOptions& options, bool missingIsAnswer) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (!options.allowHttp && !url.starts_with("https://"))
        throw FetchError("only https:// addresses are fetched");

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw FetchError("cannot start libcurl");
    std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "wb"),
                                                           std::fclose);
    if (!out) throw FetchError(file.string() + ": cannot write: " + std::strerror(errno));

    Sink sink{out.get(), 0, options.maxBytes, false, 0};
    char error[CURL_ERROR_SIZE] = "";
    const char* protocols = options.allowHttp ? "http,https" : "https";
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, options.timeoutSeconds);
    // Under one byte a second for stallSeconds: the server has stopped sending.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");  // whatever this libcurl can unpack

    const CURLcode code = curl_easy_perform(c);
    const bool flushed = std::fflush(out.get()) == 0 && !std::ferror(out.get());
    const int flushErrno = errno;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        throw FetchError("larger than the limit of " + megabytes(options.maxBytes));
    if (sink.writeErrno != 0 || (code == CURLE_OK && !flushed))
        throw FetchError(file.string() + ": cannot write: " +
                         std::strerror(sink.writeErrno != 0 ? sink.writeErrno : flushErrno));
    if (code == CURLE_OPERATION_TIMEDOUT) {
        double seconds = 0;
        curl_easy_getinfo(c, CURLINFO_TOTAL_TIME, &seconds);
        if (std::strstr(error, "too slow") != nullptr)
            throw FetchError("the server stopped sending: nothing arrived for " +
                                 std::to_string(options.stallSeconds) + " seconds",
                             true);
        throw FetchError(
            "no complete answer within " +
                std::to_string(seconds < options.timeoutSeconds ? options.connectTimeoutSeconds
                                                                : options.timeoutSeconds) +
                " seconds",
            true);
    }
    if (code != CURLE_OK)
        throw FetchError(std::string(*error != '\0' ? error : curl_easy_strerror(code)),
                         transientCode(code));
    if (status >= 400 || (status != 0 && status < 200)) {
        if (missingIsAnswer && (status == 404 || status == 410)) return {false, -1};
        curl_off_t retryAfter = -1;
        if (curl_easy_getinfo(c, CURLINFO_RETRY_AFTER, &retryAfter) != CURLE_OK || retryAfter <= 0)
            retryAfter = -1;
        throw FetchError("the server answered HTTP " + std::to_string(status),
                         transientStatus(status), static_cast<long>(retryAfter));
    }
    Fetched fetched;
    curl_off_t time = -1;
    if (curl_easy_getinfo(c, CURLINFO_FILETIME_T, &time) == CURLE_OK) fetched.lastModified = time;
    return fetched;
}

}  // namespace ipcountry::data
