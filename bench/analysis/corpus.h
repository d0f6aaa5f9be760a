#pragma once

#include <cstdint>
#include <string>

namespace ipcountry::bench {

// What a generated corpus holds, for checking what an analysis finds in it.
struct CorpusStats {
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
    std::uint64_t addresses = 0;   // real addresses written (versions, dates and times are not)
    std::uint64_t addresses6 = 0;  // of which IPv6
};

// A log of about `bytes` bytes, the same for the same seed: web-server access
// and error logs (HTTP/1.1, timestamps with fractions, client ip:port), sshd
// lines ('from A.B.C.D port N'), firewall lines (SRC=, DST=, 5-digit ports),
// application lines with version strings, dates and decimals. CRLF line ends.
CorpusStats writeLogCorpus(const std::string& path, std::uint64_t bytes, std::uint64_t seed);

// A log of about `bytes` bytes where about 30 % of the clients come over
// IPv6, written as servers write them (RFC 5952: lower case, longest zero
// run compressed): web access logs, sshd, mail (postfix), ip6tables lines,
// web proxy errors with bracketed upstreams, application logs with
// "[address]:port" upstreams, and lines without addresses that hold times,
// MAC addresses and C++ names. CRLF line ends.
CorpusStats writeMixedLogCorpus(const std::string& path, std::uint64_t bytes, std::uint64_t seed);

// A formatted list of `lines` lines "A.B.C.D:PORT", with a few lines that fail
// (no port, an octet above 255) as real lists have them. CRLF line ends.
CorpusStats writeListCorpus(const std::string& path, std::uint64_t lines, std::uint64_t seed);

}  // namespace ipcountry::bench
