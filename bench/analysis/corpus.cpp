#include "corpus.h"

#include <array>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <vector>

namespace ipcountry::bench {

namespace {

class Writer {
public:
    explicit Writer(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {
        if (m_file == nullptr) throw std::runtime_error("cannot write " + path);
        m_buffer.reserve(1 << 20);
    }
    ~Writer() {
        flush();
        std::fclose(m_file);
    }
    void add(std::string_view text) {
        m_buffer += text;
        if (m_buffer.size() >= (1 << 20)) flush();
    }
    void number(std::uint64_t value, int minDigits = 1) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int i = n; i < minDigits; ++i) m_buffer += '0';
        while (n > 0) m_buffer += digits[--n];
    }
    void address(std::uint32_t a) {
        number(a >> 24);
        m_buffer += '.';
        number((a >> 16) & 255);
        m_buffer += '.';
        number((a >> 8) & 255);
        m_buffer += '.';
        number(a & 255);
    }
    // RFC 5952: lower-case hex without leading zeros, the longest run of two
    // or more zero groups (the first of equal runs) written as "::".
    void address6(const std::array<std::uint16_t, 8>& groups) {
        int bestStart = -1, bestLength = 1;
        for (int i = 0; i < 8;) {
            int j = i;
            while (j < 8 && groups[static_cast<std::size_t>(j)] == 0) ++j;
            if (j - i > bestLength) {
                bestStart = i;
                bestLength = j - i;
            }
            i = j == i ? i + 1 : j;
        }
        static constexpr char kHex[] = "0123456789abcdef";
        for (int i = 0; i < 8; ++i) {
            if (i == bestStart) {
                m_buffer += "::";
                i += bestLength - 1;
                continue;
            }
            if (i != 0 && i != bestStart + bestLength) m_buffer += ':';
            const unsigned g = groups[static_cast<std::size_t>(i)];
            bool started = false;
            for (int shift = 12; shift >= 0; shift -= 4) {
                const unsigned digit = (g >> shift) & 15;
                if (digit != 0 || started || shift == 0) {
                    m_buffer += kHex[digit];
                    started = true;
                }
            }
        }
    }
    std::uint64_t written() const { return m_flushed + m_buffer.size(); }

private:
    void flush() {
        std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file);
        m_flushed += m_buffer.size();
        m_buffer.clear();
    }
    std::FILE* m_file;
    std::string m_buffer;
    std::uint64_t m_flushed = 0;
};

constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 6> kPaths{
    "/index.html",   "/api/v1.2/items",  "/static/app-3.4.1.min.js",
    "/wp-login.php", "/images/logo.png", "/search?q=1.5"};
constexpr std::array<const char*, 4> kAgents{
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.6099.129 "
    "Safari/537.36",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0",
    "curl/7.88.1", "python-requests/2.31.0"};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : m_rng(seed) {
        // Clients repeat in real logs: most lines come from a pool.
        m_pool.resize(20000);
        for (auto& a : m_pool) a = publicAddress();
    }
    std::uint32_t publicAddress() {
        for (;;) {
            const auto a = static_cast<std::uint32_t>(m_rng());
            const unsigned first = a >> 24;
            if (first != 0 && first != 10 && first != 127 && first < 224) return a;
        }
    }
    std::uint32_t client() {
        return below(4) == 0 ? publicAddress() : m_pool[below(m_pool.size())];
    }
    std::uint64_t below(std::uint64_t n) { return m_rng() % n; }

    // IPv6 clients come from a pool of their own, filled on first use so that
    // the IPv4-only corpus draws exactly the numbers it always drew.
    using Address6 = std::array<std::uint16_t, 8>;
    Address6 publicAddress6() {
        // Global unicast as allocated: a registry's /12 to /23, a site, then
        // a privacy-style random interface, a small one (::1) or one from a MAC.
        static constexpr std::array<std::uint16_t, 8> kPrefixes{0x2001, 0x2003, 0x2400, 0x240e,
                                                                0x2600, 0x2604, 0x2a00, 0x2a02};
        Address6 a{};
        a[0] = kPrefixes[below(kPrefixes.size())];
        a[1] = static_cast<std::uint16_t>(below(0x10000));
        a[2] = static_cast<std::uint16_t>(below(0x10000));
        a[3] = static_cast<std::uint16_t>(below(4) == 0 ? 0 : below(0x10000));
        const std::uint64_t form = below(10);
        if (form < 6) {
            for (std::size_t i = 4; i < 8; ++i) a[i] = static_cast<std::uint16_t>(below(0x10000));
        } else if (form < 9) {
            a[7] = static_cast<std::uint16_t>(1 + below(form == 8 ? 0xffff : 16));
        } else {
            a[4] = static_cast<std::uint16_t>(below(0x10000) | 0x0200);
            a[5] = static_cast<std::uint16_t>(0x00ff | below(256) << 8);
            a[6] = static_cast<std::uint16_t>(0xfe00 | below(256));
            a[7] = static_cast<std::uint16_t>(below(0x10000));
        }
        return a;
    }
    Address6 client6() {
        if (m_pool6.empty()) {
            m_pool6.resize(6000);
            for (auto& a : m_pool6) a = publicAddress6();
        }
        return below(4) == 0 ? publicAddress6() : m_pool6[below(m_pool6.size())];
    }

private:
    std::mt19937_64 m_rng;
    std::vector<std::uint32_t> m_pool;
    std::vector<Address6> m_pool6;
};

// HH:MM:SS, the part every log's timestamp shares.
void timeOfDay(Writer& w, Generator& g) {
    w.number(g.below(24), 2);
    w.add(":");
    w.number(g.below(60), 2);
    w.add(":");
    w.number(g.below(60), 2);
}

void syslogDate(Writer& w, Generator& g) {
    w.add(kMonths[g.below(12)]);
    w.add(" ");
    w.number(1 + g.below(28), 2);
    w.add(" ");
    timeOfDay(w, g);
}

// The line formats both logs share; `client` writes the client's address.
template <class Client>
void webAccessLine(Writer& w, Generator& g, Client&& client) {  // combined format
    client();
    w.add(" - - [");
    w.number(1 + g.below(28), 2);
    w.add("/");
    w.add(kMonths[g.below(12)]);
    w.add("/2024:");
    timeOfDay(w, g);
    w.add(" +0000] \"GET ");
    w.add(kPaths[g.below(kPaths.size())]);
    w.add(" HTTP/1.1\" ");
    w.number(g.below(2) == 0 ? 200 : 404);
    w.add(" ");
    w.number(g.below(50000));
    w.add(" \"-\" \"");
    w.add(kAgents[g.below(kAgents.size())]);
    w.add("\"\r\n");
}

template <class Client>
void sshdLine(Writer& w, Generator& g, Client&& client) {
    syslogDate(w, g);
    w.add(" host sshd[");
    w.number(1000 + g.below(60000));
    w.add("]: Failed password for invalid user admin from ");
    client();
    w.add(" port ");
    w.number(1024 + g.below(64511));
    w.add(" ssh2\r\n");
}

}  // namespace

CorpusStats writeLogCorpus(const std::string& path, std::uint64_t bytes, std::uint64_t seed) {
    Writer w(path);
    Generator g(seed);
    CorpusStats stats;
    while (w.written() < bytes) {
        const std::uint64_t kind = g.below(100);
        if (kind < 40) {  // web access log, combined format
            webAccessLine(w, g, [&] { w.address(g.client()); });
            stats.addresses += 1;
        } else if (kind < 55) {  // sshd
            sshdLine(w, g, [&] { w.address(g.client()); });
            stats.addresses += 1;
        } else if (kind < 70) {  // firewall
            syslogDate(w, g);
            w.add(" gw kernel: [");
            w.number(g.below(999999));
            w.add(".");
            w.number(g.below(1000000), 6);
            w.add("] IN=eth0 OUT= MAC=52:54:00:12:34:56:52:54:00:65:43:21:08:00 SRC=");
            w.address(g.client());
            w.add(" DST=");
            w.address(g.publicAddress());
            w.add(" LEN=60 TOS=0x00 PREC=0x00 TTL=51 ID=");
            w.number(g.below(65536));
            w.add(" DF PROTO=TCP SPT=");
            w.number(10000 + g.below(55536));
            w.add(" DPT=22 WINDOW=64240 RES=0x00 SYN URGP=0\r\n");
            stats.addresses += 2;
        } else if (kind < 80) {  // web server error log: client ip:port with a 5-digit port
            w.add("[Wed Oct 11 ");
            timeOfDay(w, g);
            w.add(".");
            w.number(g.below(1000000), 6);
            w.add(" 2024] [proxy:error] [pid ");
            w.number(g.below(99999));
            w.add("] [client ");
            w.address(g.client());
            w.add(":");
            w.number(10000 + g.below(55536));
            w.add("] AH01114: HTTP: failed to make connection to backend: ");
            w.address(g.publicAddress());
            w.add("\r\n");
            stats.addresses += 2;
        } else if (kind < 90) {  // application log: versions, decimals, an upstream
            w.add("2024-01-");
            w.number(1 + g.below(28), 2);
            w.add("T");
            timeOfDay(w, g);
            w.add(".");
            w.number(g.below(1000000), 6);
            w.add("Z INFO service=api version=2.");
            w.number(g.below(20));
            w.add(".");
            w.number(g.below(10));
            w.add(" build 1.2.3-rc1 latency=0.");
            w.number(g.below(10000), 4);
            w.add("s upstream=");
            w.address(g.publicAddress());
            w.add(":");
            w.number(1 + g.below(65535));
            w.add("\r\n");
            stats.addresses += 1;
        } else {  // no address at all: dates, decimals, versions
            w.add("2024-01-15 10:");
            w.number(g.below(60), 2);
            w.add(":");
            w.number(g.below(60), 2);
            w.add(",");
            w.number(g.below(1000), 3);
            w.add(" DEBUG org.example.cache.Store - hit ratio 0.");
            w.number(g.below(100), 2);
            w.add(" after 12.5 s (openssl 3.0.11, kernel 6.1.0-18)\r\n");
        }
        ++stats.lines;
    }
    stats.bytes = w.written();
    return stats;
}

CorpusStats writeMixedLogCorpus(const std::string& path, std::uint64_t bytes, std::uint64_t seed) {
    Writer w(path);
    Generator g(seed);
    CorpusStats stats;
    // A client of either family, about 30 % over IPv6; `bracketed` writes an
    // IPv6 address as "[address]", the way URLs and ports need it.
    const auto client = [&](bool bracketed = false) {
        if (g.below(10) < 3) {
            if (bracketed) w.add("[");
            w.address6(g.client6());
            if (bracketed) w.add("]");
            ++stats.addresses6;
        } else {
            w.address(g.client());
        }
        ++stats.addresses;
    };
    while (w.written() < bytes) {
        const std::uint64_t kind = g.below(100);
        if (kind < 40) {  // web access log, combined format
            webAccessLine(w, g, client);
        } else if (kind < 55) {  // sshd
            sshdLine(w, g, client);
        } else if (kind < 65) {  // mail: postfix names its clients in brackets
            syslogDate(w, g);
            w.add(" mx postfix/smtpd[");
            w.number(1000 + g.below(60000));
            w.add(g.below(2) == 0 ? "]: connect from unknown["
                                  : "]: NOQUEUE: reject: RCPT from mail.example.net[");
            client();
            w.add("]: 554 5.7.1 Service unavailable; client blocked\r\n");
        } else if (kind < 75) {  // ip6tables and iptables
            syslogDate(w, g);
            w.add(" gw kernel: [");
            w.number(g.below(999999));
            w.add(".");
            w.number(g.below(1000000), 6);
            w.add("] IN=eth0 OUT= MAC=52:54:00:12:34:56:52:54:00:65:43:21:86:dd SRC=");
            client();
            w.add(" DST=");
            w.address(g.publicAddress());
            ++stats.addresses;
            w.add(" LEN=80 TC=0 HOPLIMIT=57 FLOWLBL=0 PROTO=TCP SPT=");
            w.number(10000 + g.below(55536));
            w.add(" DPT=22 WINDOW=64800 RES=0x00 SYN URGP=0\r\n");
        } else if (kind < 83) {  // proxy error log: a bracketed upstream with its port
            w.add("2024/01/");
            w.number(1 + g.below(28), 2);
            w.add(" ");
            timeOfDay(w, g);
            w.add(" [error] 811#0: *");
            w.number(g.below(999999));
            w.add(
                " connect() failed (111: Connection refused) while connecting to upstream, "
                "client: ");
            client();
            w.add(", server: example.org, request: \"GET / HTTP/1.1\", upstream: \"http://");
            client(true);
            w.add(":8080/\"\r\n");
        } else if (kind < 93) {  // application log: versions, decimals, an upstream with a port
            w.add("2024-01-");
            w.number(1 + g.below(28), 2);
            w.add("T");
            timeOfDay(w, g);
            w.add(".");
            w.number(g.below(1000000), 6);
            w.add("Z INFO service=api version=2.");
            w.number(g.below(20));
            w.add(".");
            w.number(g.below(10));
            w.add(" latency=0.");
            w.number(g.below(10000), 4);
            w.add("s upstream=");
            client(true);
            w.add(":");
            w.number(1 + g.below(65535));
            w.add("\r\n");
        } else {  // no address: times, a MAC, C++ names
            w.add("2024-01-15 10:");
            w.number(g.below(60), 2);
            w.add(":");
            w.number(g.below(60), 2);
            w.add(",");
            w.number(g.below(1000), 3);
            w.add(
                " DEBUG std::runtime_error in cache::Store::get: link 00:1a:2b:3c:4d:5e down after "
                "12.5 s\r\n");
        }
        ++stats.lines;
    }
    stats.bytes = w.written();
    return stats;
}

CorpusStats writeListCorpus(const std::string& path, std::uint64_t lines, std::uint64_t seed) {
    Writer w(path);
    Generator g(seed);
    CorpusStats stats;
    for (std::uint64_t i = 0; i < lines; ++i) {
        const std::uint64_t kind = g.below(1000);
        if (kind == 0) {
            w.address(g.client());  // no port: fails the format check
        } else if (kind == 1) {
            w.add("1.2.3.999:80");  // fails the key check
        } else {
            w.address(g.client());
            w.add(":");
            w.number(1 + g.below(65535));
            stats.addresses += 1;
        }
        w.add("\r\n");
        ++stats.lines;
    }
    stats.bytes = w.written();
    return stats;
}

}  // namespace ipcountry::bench
