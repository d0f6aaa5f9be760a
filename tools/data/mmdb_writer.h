// A writer of MaxMind DB files (.mmdb), the format that nginx's geoip2
// module, syslog-ng, GoAccess and the MaxMind DB readers of many languages
// read: a binary search tree over the address bits, a data section of typed
// values and a metadata map at the end.
//
// What it guarantees: one IPv6 tree in which the IPv4 space lives at ::/96
// and is reached too through ::ffff:0:0/96 (IPv4-mapped) and 2002::/16
// (6to4), as readers expect of a database of both families; every address of
// a given range answers that range's record, every other address answers
// none; the tree is as small as the ranges allow (a whole block of one record
// is one record, not a subtree) and its records are the smallest of 24, 28
// and 32 bits that hold every node and data pointer. Each record is written
// once, however many networks point at it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "lookup/address6.h"

namespace ipcountry::data::mmdb {

// One value of the data section: the few types a country database uses.
struct Value {
    enum class Type { String, Uint16, Uint32, Uint64, Map, Array };
    Type type = Type::String;
    std::string text;          // String (UTF-8)
    std::uint64_t number = 0;  // Uint16, Uint32, Uint64
    struct Entry;
    std::vector<Entry> map;    // Map: keys in the order written
    std::vector<Value> array;  // Array

    static Value string(std::string s);
    static Value uint16(std::uint16_t n);
    static Value uint32(std::uint32_t n);
    static Value uint64(std::uint64_t n);
    static Value mapOf(std::vector<Entry> entries);
    static Value arrayOf(std::vector<Value> items);
};

struct Value::Entry {
    std::string key;
    Value value;
};

// An inclusive range of addresses and the index of its record.
template <class Address>
struct RecordRange {
    Address first{};
    Address last{};
    std::uint32_t record = 0;
};
using RecordRange4 = RecordRange<std::uint32_t>;
using RecordRange6 = RecordRange<lookup::Address6>;

struct Metadata {
    std::string databaseType;                                      // e.g. ipcountry-Country
    std::vector<std::string> languages;                            // e.g. {"en"}
    std::vector<std::pair<std::string, std::string>> description;  // language -> text
    std::uint64_t buildEpoch = 0;                                  // seconds since 1970, UTC
};

// Why a database cannot be written from what was given.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Database {
    std::vector<Value> records;      // the data records; ranges name them by index
    std::vector<RecordRange4> ipv4;  // sorted, disjoint
    std::vector<RecordRange6> ipv6;  // sorted, disjoint; what falls in ::/96 and the
                                     // two aliases of the IPv4 space is not written
    Metadata metadata;
};

// What the tree came to, for a summary.
struct WriteSummary {
    std::uint32_t nodeCount = 0;
    int recordSize = 0;  // bits
};

// The whole file. Throws WriteError when the ranges are not sorted and
// disjoint, name a record that does not exist, the build time is 0, or the
// tree would not fit in 32-bit records.
std::string writeDatabase(const Database& database, WriteSummary* summary = nullptr);

// One value as the data section encodes it (for tests of the encoding).
std::string encodeValue(const Value& value);

}  // namespace ipcountry::data::mmdb
