#include "mmdb_writer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "lookup/range_set.h"

namespace ipcountry::data::mmdb {
namespace {

using lookup::Address6;

// The type numbers of the data section; those above 7 are written as 0 with
// the number less 7 in the byte after the control byte.
enum TypeNumber : unsigned {
    kPointer = 1,
    kUtf8String = 2,
    kUint16 = 5,
    kUint32 = 6,
    kMap = 7,
    kUint64 = 9,
    kArray = 11,
};

void putControl(std::string& out, unsigned type, std::size_t size) {
    unsigned char first = type <= 7 ? static_cast<unsigned char>(type << 5) : 0;
    // Sizes of 29 and more carry the rest in one to three bytes after it.
    std::array<unsigned char, 3> extra{};
    int extraBytes = 0;
    if (size < 29) {
        first |= static_cast<unsigned char>(size);
    } else if (size < 29 + 256) {
        first |= 29;
        extra[0] = static_cast<unsigned char>(size - 29);
        extraBytes = 1;
    } else if (size < 285 + 65536) {
        first |= 30;
        const std::size_t rest = size - 285;
        extra = {static_cast<unsigned char>(rest >> 8), static_cast<unsigned char>(rest), 0};
        extraBytes = 2;
    } else {
        if (size >= 65821 + (std::size_t{1} << 24)) throw WriteError("a value is too large");
        first |= 31;
        const std::size_t rest = size - 65821;
        extra = {static_cast<unsigned char>(rest >> 16), static_cast<unsigned char>(rest >> 8),
                 static_cast<unsigned char>(rest)};
        extraBytes = 3;
    }
    out.push_back(static_cast<char>(first));
    if (type > 7) out.push_back(static_cast<char>(type - 7));
    out.append(reinterpret_cast<const char*>(extra.data()), static_cast<std::size_t>(extraBytes));
}

void putString(std::string& out, std::string_view text) {
    putControl(out, kUtf8String, text.size());
    out.append(text);
}

// Unsigned integers are big-endian without leading zero bytes (zero is no byte).
void putUnsigned(std::string& out, unsigned type, std::uint64_t n) {
    int bytes = 0;
    while (bytes < 8 && (n >> (8 * bytes)) != 0) ++bytes;
    putControl(out, type, static_cast<std::size_t>(bytes));
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(n >> (8 * i)));
}

void putValue(std::string& out, const Value& value) {
    switch (value.type) {
        case Value::Type::String:
            putString(out, value.text);
            return;
        case Value::Type::Uint16:
            if (value.number > 0xFFFF) throw WriteError("a uint16 value above 65535");
            putUnsigned(out, kUint16, value.number);
            return;
        case Value::Type::Uint32:
            if (value.number > 0xFFFFFFFFu) throw WriteError("a uint32 value above 4294967295");
            putUnsigned(out, kUint32, value.number);
            return;
        case Value::Type::Uint64:
            putUnsigned(out, kUint64, value.number);
            return;
        case Value::Type::Map:
            putControl(out, kMap, value.map.size());
            for (const auto& [key, item] : value.map) {
                putString(out, key);
                putValue(out, item);
            }
            return;
        case Value::Type::Array:
            putControl(out, kArray, value.array.size());
            for (const auto& item : value.array) putValue(out, item);
            return;
    }
}

// A record of the tree while it is built: a node, a data record, or nothing.
using Slot = std::uint64_t;
constexpr Slot kEmpty = Slot{1} << 62;
constexpr Slot kDataFlag = Slot{1} << 63;

Address6 mapped4(std::uint32_t a) { return {0, a}; }

// The last address of the block of `depth` leading bits that starts at `start`.
Address6 blockEnd(Address6 start, int depth) {
    if (depth == 0) return Address6::max();
    if (depth <= 64) {
        const std::uint64_t hostHigh = depth == 64 ? 0 : ~std::uint64_t{0} >> depth;
        return {start.high | hostHigh, ~std::uint64_t{0}};
    }
    const std::uint64_t hostLow = depth == 128 ? 0 : ~std::uint64_t{0} >> (depth - 64);
    return {start.high, start.low | hostLow};
}

// The first address of the upper half of the block (`depth` < 128).
Address6 upperHalf(Address6 start, int depth) {
    if (depth < 64) return {start.high | (std::uint64_t{1} << (63 - depth)), start.low};
    return {start.high, start.low | (std::uint64_t{1} << (127 - depth))};
}

bool inBlock(Address6 a, Address6 start, int depth) {
    return start <= a && a <= blockEnd(start, depth);
}

// Where the IPv4 space and its aliases stand in the IPv6 tree.
constexpr Address6 kIpv4Block{0, 0};                        // ::/96
constexpr Address6 kMappedBlock{0, 0x0000FFFF00000000ull};  // ::ffff:0:0/96
constexpr Address6 k6to4Block{0x2002000000000000ull, 0};    // 2002::/16
constexpr int kIpv4Depth = 96, kMappedDepth = 96, k6to4Depth = 16;

class TreeBuilder {
public:
    explicit TreeBuilder(const std::vector<RecordRange6>& ranges) : m_ranges(ranges) {}

    void build() {
        const Slot root = visit(Address6{}, 0, 0, m_ranges.size());
        if (m_nodes.empty()) {
            // Readers need a root node even for a tree that holds nothing.
            m_nodes.push_back({root, root});
        }
    }
    const std::vector<std::array<Slot, 2>>& nodes() const { return m_nodes; }

private:
    Slot visit(Address6 start, int depth, std::size_t lo, std::size_t hi) {
        if ((depth == k6to4Depth && start == k6to4Block) ||
            (depth == kMappedDepth && start == kMappedBlock))
            return m_ipv4;
        if (depth == kIpv4Depth && start == kIpv4Block) {
            m_ipv4 = split(start, depth, lo, hi, false);
            return m_ipv4;
        }
        // A block that holds the IPv4 space or an alias of it is never one
        // record: the alias must find the IPv4 subtree where readers look.
        const bool holdsIpv4 = depth < kIpv4Depth && inBlock(kIpv4Block, start, depth);
        const bool holdsAlias = (depth < k6to4Depth && inBlock(k6to4Block, start, depth)) ||
                                (depth < kMappedDepth && inBlock(kMappedBlock, start, depth));
        return split(start, depth, lo, hi, holdsIpv4 || holdsAlias);
    }

    Slot split(Address6 start, int depth, std::size_t lo, std::size_t hi, bool mustDivide) {
        if (lo == hi && (!mustDivide || m_ipv4 == kEmpty)) return kEmpty;
        if (!mustDivide && hi - lo == 1 && m_ranges[lo].first <= start &&
            blockEnd(start, depth) <= m_ranges[lo].last)
            return kDataFlag | m_ranges[lo].record;
        const std::size_t node = m_nodes.size();
        m_nodes.push_back({kEmpty, kEmpty});
        const Address6 mid = upperHalf(start, depth);
        const auto begin = m_ranges.begin();
        // Ranges that start below the middle go left, those that end at or
        // above it go right; one that spans the middle goes both ways.
        const auto leftEnd = static_cast<std::size_t>(
            std::partition_point(begin + static_cast<std::ptrdiff_t>(lo),
                                 begin + static_cast<std::ptrdiff_t>(hi),
                                 [mid](const RecordRange6& r) { return r.first < mid; }) -
            begin);
        const auto rightBegin = static_cast<std::size_t>(
            std::partition_point(begin + static_cast<std::ptrdiff_t>(lo),
                                 begin + static_cast<std::ptrdiff_t>(hi),
                                 [mid](const RecordRange6& r) { return r.last < mid; }) -
            begin);
        const Slot left = visit(start, depth + 1, lo, leftEnd);
        const Slot right = visit(mid, depth + 1, rightBegin, hi);
        m_nodes[node] = {left, right};
        return node;
    }

    const std::vector<RecordRange6>& m_ranges;
    std::vector<std::array<Slot, 2>> m_nodes;
    Slot m_ipv4 = kEmpty;
};

template <class Range>
void checkRanges(const std::vector<Range>& ranges, std::size_t recordCount, const char* family) {
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].last < ranges[i].first)
            throw WriteError(std::string(family) + " range " + std::to_string(i + 1) +
                             " ends before it starts");
        if (i > 0 && !(ranges[i - 1].last < ranges[i].first))
            throw WriteError(std::string(family) + " range " + std::to_string(i + 1) +
                             " is not above the one before it");
        if (ranges[i].record >= recordCount)
            throw WriteError(std::string(family) + " range " + std::to_string(i + 1) +
                             " names a record that does not exist");
    }
}

// Both families as one sorted list in the IPv6 space, the IPv4 ranges at
// ::/96, neighbours of one record joined so that whole blocks become one.
std::vector<RecordRange6> combinedRanges(const Database& db) {
    static const lookup::RangeSet6 kIpv4Places = [] {
        std::vector<lookup::AddressRange<Address6>> places;
        for (const auto& [start, depth] :
             {std::pair{kIpv4Block, kIpv4Depth}, std::pair{kMappedBlock, kMappedDepth},
              std::pair{k6to4Block, k6to4Depth}})
            places.push_back({start, blockEnd(start, depth)});
        return lookup::RangeSet6(std::move(places));
    }();
    std::vector<RecordRange6> all;
    all.reserve(db.ipv4.size() + db.ipv6.size());
    for (const auto& r : db.ipv4) all.push_back({mapped4(r.first), mapped4(r.last), r.record});
    const auto rest = lookup::RangeSet6::cutOut(db.ipv6, kIpv4Places);
    all.insert(all.end(), rest.begin(), rest.end());
    std::vector<RecordRange6> joined;
    joined.reserve(all.size());
    for (const auto& r : all) {
        if (!joined.empty() && joined.back().record == r.record) {
            Address6 next = joined.back().last;
            ++next;
            if (next == r.first) {
                joined.back().last = r.last;
                continue;
            }
        }
        joined.push_back(r);
    }
    return joined;
}

void putBigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
}

Value numberOf(Value::Type type, std::uint64_t n) {
    Value v;
    v.type = type;
    v.number = n;
    return v;
}

}  // namespace

Value Value::string(std::string s) {
    Value v;
    v.text = std::move(s);
    return v;
}
Value Value::uint16(std::uint16_t n) { return numberOf(Type::Uint16, n); }
Value Value::uint32(std::uint32_t n) { return numberOf(Type::Uint32, n); }
Value Value::uint64(std::uint64_t n) { return numberOf(Type::Uint64, n); }
Value Value::mapOf(std::vector<Entry> entries) {
    Value v;
    v.type = Type::Map;
    v.map = std::move(entries);
    return v;
}
Value Value::arrayOf(std::vector<Value> items) {
    Value v;
    v.type = Type::Array;
    v.array = std::move(items);
    return v;
}

std::string encodeValue(const Value& value) {
    std::string out;
    putValue(out, value);
    return out;
}

std::string writeDatabase(const Database& db, WriteSummary* summary) {
    // libmaxminddb takes a build_epoch of 0 for a missing one and refuses the file.
    if (db.metadata.buildEpoch == 0) throw WriteError("the database needs a build time after 1970");
    checkRanges(db.ipv4, db.records.size(), "IPv4");
    checkRanges(db.ipv6, db.records.size(), "IPv6");

    std::string data;
    std::vector<std::uint64_t> offsets;
    offsets.reserve(db.records.size());
    for (const auto& record : db.records) {
        offsets.push_back(data.size());
        putValue(data, record);
    }

    const auto ranges = combinedRanges(db);
    TreeBuilder builder(ranges);
    builder.build();
    const auto& nodes = builder.nodes();
    const std::uint64_t nodeCount = nodes.size();
    // The largest value a record holds is a pointer past the 16 zero bytes
    // that part the tree from the data.
    const std::uint64_t largest = nodeCount + 16 + data.size();
    int recordSize = 24;
    if (largest >= (std::uint64_t{1} << 24)) recordSize = 28;
    if (largest >= (std::uint64_t{1} << 28)) recordSize = 32;
    if (largest >= (std::uint64_t{1} << 32))
        throw WriteError("the tree is too large for 32-bit records");
    auto value = [&](Slot slot) -> std::uint64_t {
        if (slot == kEmpty) return nodeCount;
        if (slot & kDataFlag) return nodeCount + 16 + offsets[slot & ~kDataFlag];
        return slot;
    };

    std::string out;
    out.reserve(nodes.size() * static_cast<std::size_t>(recordSize) / 4 + data.size() + 1024);
    for (const auto& node : nodes) {
        const std::uint64_t left = value(node[0]), right = value(node[1]);
        if (recordSize == 28) {
            putBigEndian(out, left & 0xFFFFFF, 3);
            out.push_back(static_cast<char>(((left >> 24) & 0xF) << 4 | ((right >> 24) & 0xF)));
            putBigEndian(out, right & 0xFFFFFF, 3);
        } else {
            putBigEndian(out, left, recordSize / 8);
            putBigEndian(out, right, recordSize / 8);
        }
    }
    out.append(16, '\0');
    out += data;

    out += std::string_view("\xAB\xCD\xEFMaxMind.com");
    std::vector<Value> languages;
    for (const auto& language : db.metadata.languages) languages.push_back(Value::string(language));
    std::vector<Value::Entry> description;
    for (const auto& [language, text] : db.metadata.description)
        description.push_back({language, Value::string(text)});
    putValue(out, Value::mapOf({
                      {"binary_format_major_version", Value::uint16(2)},
                      {"binary_format_minor_version", Value::uint16(0)},
                      {"build_epoch", Value::uint64(db.metadata.buildEpoch)},
                      {"database_type", Value::string(db.metadata.databaseType)},
                      {"description", Value::mapOf(std::move(description))},
                      {"ip_version", Value::uint16(6)},
                      {"languages", Value::arrayOf(std::move(languages))},
                      {"node_count", Value::uint32(static_cast<std::uint32_t>(nodeCount))},
                      {"record_size", Value::uint16(static_cast<std::uint16_t>(recordSize))},
                  }));
    if (summary) *summary = {static_cast<std::uint32_t>(nodeCount), recordSize};
    return out;
}

}  // namespace ipcountry::data::mmdb
