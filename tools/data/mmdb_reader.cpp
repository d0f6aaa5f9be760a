#include "mmdb_reader.h"

#include <maxminddb.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "prefix_range.h"

namespace ipcountry::data {
namespace {

using lookup::Address6;

class Database {
public:
    explicit Database(const std::string& path) {
        const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &m_db);
        if (status != MMDB_SUCCESS)
            throw SourceError(std::string("not a MaxMind DB file: ") + MMDB_strerror(status));
    }
    ~Database() { MMDB_close(&m_db); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    MMDB_s* get() { return &m_db; }

private:
    MMDB_s m_db{};
};

// The two-letter code a data record names, or "" when it names none.
std::string countryOf(MMDB_entry_s entry) {
    MMDB_entry_data_s data{};
    int status = MMDB_get_value(&entry, &data, "country", "iso_code", nullptr);
    if (status != MMDB_SUCCESS || !data.has_data) {
        data = {};
        status = MMDB_get_value(&entry, &data, "country_code", nullptr);
    }
    if (status != MMDB_SUCCESS && status != MMDB_LOOKUP_PATH_DOES_NOT_MATCH_DATA_ERROR &&
        status != MMDB_INVALID_LOOKUP_PATH_ERROR)
        throw SourceError(std::string("a data record cannot be read: ") + MMDB_strerror(status));
    if (status != MMDB_SUCCESS || !data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING ||
        data.data_size != 2)
        return {};
    std::string code(data.utf8_string, 2);
    for (char& c : code) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') return {};
    }
    return code;
}

Address6 withBit(Address6 a, unsigned bit) {
    if (bit < 64) {
        a.high |= std::uint64_t{1} << (63 - bit);
    } else {
        a.low |= std::uint64_t{1} << (127 - bit);
    }
    return a;
}

struct Pending {
    std::uint32_t node;
    unsigned depth;  // bits of the 128-bit address fixed on the way to the node
    Address6 prefix;
};

}  // namespace

MmdbMetadata walkMmdb(const std::string& path, const MmdbNetwork& network) {
    Database database(path);
    MMDB_s* db = database.get();
    MmdbMetadata out;
    if (db->metadata.database_type != nullptr) out.databaseType = db->metadata.database_type;
    for (std::size_t i = 0; i < db->metadata.description.count; ++i) {
        const auto* d = db->metadata.description.descriptions[i];
        if (d != nullptr && d->language != nullptr && std::strcmp(d->language, "en") == 0 &&
            d->description != nullptr)
            out.description = d->description;
    }
    out.buildEpoch = db->metadata.build_epoch;
    const bool tree6 = db->metadata.ip_version == 6;
    if (!tree6 && db->metadata.ip_version != 4)
        throw SourceError("the tree is of neither IPv4 nor IPv6");
    const std::uint32_t nodeCount = db->metadata.node_count;

    // An IPv4 tree is read as the last 32 bits of the 128-bit address space,
    // where an IPv6 tree keeps IPv4 too: one walk serves both.
    const unsigned skipped = tree6 ? 0 : 96;
    constexpr unsigned kIpv4Depth = 96;

    MMDB_search_node_s node{};
    auto read = [&](std::uint32_t number) {
        const int status = MMDB_read_node(db, number, &node);
        if (status != MMDB_SUCCESS)
            throw SourceError(std::string("the search tree is damaged: ") + MMDB_strerror(status));
    };
    // The node at ::/96, where the IPv4 space begins; the aliases lead to it too.
    std::uint64_t ipv4Root = UINT64_MAX;
    if (tree6) {
        std::uint32_t number = 0;
        unsigned depth = 0;
        for (; depth < kIpv4Depth; ++depth) {
            read(number);
            if (node.left_record_type != MMDB_RECORD_TYPE_SEARCH_NODE) break;
            number = static_cast<std::uint32_t>(node.left_record);
        }
        if (depth == kIpv4Depth) ipv4Root = number;
    }

    auto emit = [&](Address6 first, unsigned depth, MMDB_entry_s entry) {
        const Address6 mask = hostMask(depth);
        network(first, Address6{first.high | mask.high, first.low | mask.low}, depth >= kIpv4Depth,
                entry);
    };

    // A sound tree reaches each node once (the aliases are not followed); the
    // bound stops a damaged one whose records lead back up, without refusing a
    // writer that shares a subtree.
    std::vector<Pending> stack{{0, skipped, Address6{}}};
    std::uint64_t visits = 0;
    while (!stack.empty()) {
        const Pending at = stack.back();
        stack.pop_back();
        if (at.node >= nodeCount || ++visits > 4 * std::uint64_t{nodeCount} + 16 || at.depth >= 128)
            throw SourceError("the search tree is damaged: a node out of place");
        read(at.node);
        const MMDB_search_node_s here = node;
        for (int side = 0; side <= 1; ++side) {
            const Address6 prefix = side == 1 ? withBit(at.prefix, at.depth) : at.prefix;
            const std::uint8_t type = side == 1 ? here.right_record_type : here.left_record_type;
            const std::uint64_t record = side == 1 ? here.right_record : here.left_record;
            switch (type) {
                case MMDB_RECORD_TYPE_SEARCH_NODE: {
                    const bool ipv4Home = at.depth + 1 == kIpv4Depth && prefix == Address6{};
                    if (record == ipv4Root && !ipv4Home) break;  // an alias of the IPv4 space
                    stack.push_back({static_cast<std::uint32_t>(record), at.depth + 1, prefix});
                    break;
                }
                case MMDB_RECORD_TYPE_DATA:
                    emit(prefix, at.depth + 1,
                         side == 1 ? here.right_record_entry : here.left_record_entry);
                    break;
                case MMDB_RECORD_TYPE_EMPTY:
                    break;
                default:
                    throw SourceError("the search tree is damaged: a record points nowhere");
            }
        }
    }
    return out;
}

MmdbCountries readMmdbCountries(const std::string& path) {
    MmdbCountries out;
    std::unordered_map<std::uint32_t, std::string> codes;  // by data offset: records are shared
    const MmdbMetadata metadata =
        walkMmdb(path, [&](Address6 first, Address6 last, bool deep, MMDB_entry_s& entry) {
            auto known = codes.find(entry.offset);
            if (known == codes.end()) known = codes.emplace(entry.offset, countryOf(entry)).first;
            const std::string& code = known->second;
            if (code.empty()) {
                ++out.withoutCountry;
                return;
            }
            forEachFamily(
                first, last, deep,
                [&](std::uint32_t a, std::uint32_t b) {
                    out.ipv4.push_back({a, b, code});
                },
                [&](Address6 a, Address6 b) {
                    out.ipv6.push_back({a, b, code});
                });
        });
    out.databaseType = metadata.databaseType;
    out.description = metadata.description;
    out.buildEpoch = metadata.buildEpoch;
    auto byFirst = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::sort(out.ipv4.begin(), out.ipv4.end(), byFirst);
    std::sort(out.ipv6.begin(), out.ipv6.end(), byFirst);
    return out;
}

}  // namespace ipcountry::data
