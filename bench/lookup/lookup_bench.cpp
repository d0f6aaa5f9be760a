// Lookups per second on the bundled range file: the index against the
// reference scan that walks the lines, and the time to build the index.
//   build/bench/lookup_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/address_key.h"
#include "lookup/range_file.h"

namespace {

using namespace ipcountry::lookup;

const std::string& bundledContent() {
    static const std::string content = [] {
        std::ifstream in(std::string(IPCOUNTRY_DATA_DIR) + "/IP_db.dbf", std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }();
    return content;
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

void BM_SequentialScan(benchmark::State& state) {
    const auto lines = splitRangeLines(bundledContent());
    const auto addresses = randomAddresses(1 << 10);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(findCountryCodeSequential(lines, addressToKey(addresses[i++ & 0x3FF])));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SequentialScan);

}  // namespace

BENCHMARK_MAIN();
