// Lookups per second on the bundled range files: the index against the
// reference scan that walks the lines, and the time to build the index.
// IPv6 addresses are drawn inside the file's ranges, as real clients are:
// uniformly random 128-bit values would almost all fall into a few empty buckets.
//   build/bench/lookup_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/address_key.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"

namespace {

using namespace ipcountry::lookup;

std::string readData(const char* name) {
    std::ifstream in(std::string(IPCOUNTRY_DATA_DIR) + "/" + name, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

const std::string& bundledContent() {
    static const std::string content = readData("IP_db.dbf");
    return content;
}

const std::string& bundled6Content() {
    static const std::string content = readData("IP6_db.dbf");
    return content;
}

// A random line's start plus a random offset below the next line's start.
std::vector<Address6> addressesInRanges(std::size_t n) {
    std::vector<Address6> starts;
    forEachLine(bundled6Content(), [&](std::string_view line) {
        starts.push_back(*keyToAddress6(line.substr(0, kAddress6KeyLength)));
    });
    std::mt19937_64 rng(42);
    std::vector<Address6> addresses(n);
    for (auto& a : addresses) {
        const std::size_t i = rng() % (starts.size() - 1);
        const Address6 from = starts[i];
        const Address6 to = starts[i + 1];
        a = from;
        if (to.high > from.high) {
            a.high += rng() % (to.high - from.high);
            a.low = rng();
            if (a >= to) a = from;
        } else {
            a.low += rng() % (to.low - from.low);
        }
    }
    return addresses;
}

std::vector<std::uint32_t> randomAddresses(std::size_t n) {
    std::mt19937 rng(42);
    std::vector<std::uint32_t> addresses(n);
    for (auto& a : addresses) a = rng();
    return addresses;
}

void BM_IndexBuild(benchmark::State& state) {
    const auto& content = bundledContent();
    for (auto _ : state) {
        auto index = RangeIndex::fromContent(content);
        benchmark::DoNotOptimize(index);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond);

void BM_IndexLookupByKey(benchmark::State& state) {
    const auto index = RangeIndex::fromContent(bundledContent());
    std::vector<std::string> keys;
    for (auto a : randomAddresses(1 << 16)) keys.push_back(addressToKey(a));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.findCountryCode(keys[i++ & 0xFFFF]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IndexLookupByKey);

void BM_IndexLookupPacked(benchmark::State& state) {
    const auto index = RangeIndex::fromContent(bundledContent());
    const auto addresses = randomAddresses(1 << 16);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.findPackedCode(addresses[i++ & 0xFFFF]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IndexLookupPacked);

void BM_Index6Build(benchmark::State& state) {
    const auto& content = bundled6Content();
    for (auto _ : state) {
        auto index = Range6Index::fromContent(content);
        benchmark::DoNotOptimize(index);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_Index6Build)->Unit(benchmark::kMillisecond);

void BM_Index6LookupPacked(benchmark::State& state) {
    const auto index = Range6Index::fromContent(bundled6Content());
    const auto addresses = addressesInRanges(1 << 16);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.findPackedCode(addresses[i++ & 0xFFFF]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Index6LookupPacked);

void BM_SequentialScan(benchmark::State& state) {
    const auto lines = splitRangeLines(bundledContent());
    const auto addresses = randomAddresses(1 << 10);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            findCountryCodeSequential(lines, addressToKey(addresses[i++ & 0x3FF])));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SequentialScan);

}  // namespace

BENCHMARK_MAIN();
