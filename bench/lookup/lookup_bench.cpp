// Lookups per second on the bundled range files: the index against the
// reference scan that walks the lines, and the time to build the index.
// IPv6 addresses are drawn inside the file's ranges, as real clients are:
// uniformly random 128-bit values would almost all fall into a few empty buckets.
// BM_Layout runs the index against the layout before it (a binary search per
// bucket, kept in previous_range_index.h) on the same streams, one after the
// other in each repetition (items per second count CPU time, steadier than
// wall time on a shared machine):
//   build/bench/lookup_bench --benchmark_filter=BM_Layout --benchmark_repetitions=9
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/address_key.h"
#include "lookup/line_ends.h"
#include "lookup/range_file.h"
#include "previous_range_index.h"

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

// As the analyses look up a block's addresses: a batch at a time, the
// lookups going down the tree side by side (findPackedCodes). Against
// BM_IndexLookupChained, where each lookup waits for the one before, as one
// did between the scans of a line's addresses.
void BM_IndexLookupOverlapped(benchmark::State& state) {
    const auto index = RangeIndex::fromContent(bundledContent());
    const auto addresses = randomAddresses(1 << 16);
    const std::size_t batch = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint16_t> codes(batch);
    std::size_t i = 0;
    for (auto _ : state) {
        index.findPackedCodes(addresses.data() + i, codes.data(), batch);
        benchmark::DoNotOptimize(codes.data());
        i = (i + batch) & 0xFFFF;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
BENCHMARK(BM_IndexLookupOverlapped)->Arg(16)->Arg(64)->Arg(256);

void BM_IndexLookupChained(benchmark::State& state) {
    const auto index = RangeIndex::fromContent(bundledContent());
    const auto addresses = randomAddresses(1 << 16);
    std::size_t i = 0;
    std::uint32_t code = 0;
    for (auto _ : state) {
        code = index.findPackedCode(addresses[(i++ + (code & 1)) & 0xFFFF]);
        benchmark::DoNotOptimize(code);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IndexLookupChained);

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

// A log's clients: three lines in four come from a pool of regular visitors
// (a few of them far more often than the rest), the others are new.
template <class Address, class Draw>
std::vector<Address> logLikeStream(std::size_t n, std::size_t poolSize, Draw draw) {
    std::mt19937_64 rng(7);
    std::vector<Address> pool(poolSize);
    for (auto& a : pool) a = draw(rng);
    std::vector<Address> stream(n);
    for (auto& a : stream) {
        if (rng() % 4 == 0) {
            a = draw(rng);
        } else {
            // Squaring a uniform number favours the front of the pool.
            const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;
            a = pool[static_cast<std::size_t>(u * u * static_cast<double>(poolSize))];
        }
    }
    return stream;
}

// More addresses than the caches hold, as a long log has.
constexpr std::size_t kStreamLength = std::size_t{1} << 20;

const std::vector<std::uint32_t>& ipv4Stream(bool logLike) {
    static const auto random = randomAddresses(kStreamLength);
    // Clients live where the registries handed out many small blocks, not
    // evenly over the address space: a random line's range, then a random
    // address in it.
    static const auto log = [] {
        std::vector<std::uint32_t> starts;
        forEachLine(bundledContent(), [&](std::string_view line) {
            starts.push_back(*keyToAddress(line.substr(0, kAddressKeyLength)));
        });
        return logLikeStream<std::uint32_t>(kStreamLength, 20000, [&](auto& rng) {
            const std::size_t i = rng() % (starts.size() - 1);
            return static_cast<std::uint32_t>(starts[i] + rng() % (starts[i + 1] - starts[i]));
        });
    }();
    return logLike ? log : random;
}

const std::vector<Address6>& ipv6Stream(bool logLike) {
    static const auto inRanges = addressesInRanges(kStreamLength);
    static const auto log = [] {
        const auto sample = addressesInRanges(1 << 16);
        std::size_t next = 0;
        return logLikeStream<Address6>(kStreamLength, 6000,
                                       [&](auto&) { return sample[next++ & 0xFFFF]; });
    }();
    return logLike ? log : inRanges;
}

// Both layouts answer every address of the streams alike, or the figures mean nothing.
template <class Current, class Previous, class Address>
bool sameAnswers(const Current& current, const Previous& previous,
                 const std::vector<Address>& addresses) {
    for (const auto& a : addresses)
        if (current.findPackedCode(a) != previous.findPackedCode(a)) return false;
    return true;
}

template <class Index, class Address>
void lookupAll(benchmark::State& state, const Index& index, const std::vector<Address>& addresses) {
    for (auto _ : state) {
        std::uint32_t sum = 0;
        for (const auto& a : addresses) sum += index.findPackedCode(a);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * addresses.size()));
}

// Arguments: family (4 or 6), stream (0 random, 1 log-like), layout (0 now, 1 before).
void BM_Layout(benchmark::State& state) {
    const bool logLike = state.range(1) == 1;
    const bool previous = state.range(2) == 1;
    if (state.range(0) == 4) {
        static const auto index = RangeIndex::fromContent(bundledContent());
        static const ipcountry::bench::PreviousRangeIndex<Ipv4Ranges> before(bundledContent());
        const auto& addresses = ipv4Stream(logLike);
        if (!sameAnswers(index, before, addresses)) return state.SkipWithError("answers differ");
        previous ? lookupAll(state, before, addresses) : lookupAll(state, index, addresses);
    } else {
        static const auto index = Range6Index::fromContent(bundled6Content());
        static const ipcountry::bench::PreviousRangeIndex<Ipv6Ranges> before(bundled6Content());
        const auto& addresses = ipv6Stream(logLike);
        if (!sameAnswers(index, before, addresses)) return state.SkipWithError("answers differ");
        previous ? lookupAll(state, before, addresses) : lookupAll(state, index, addresses);
    }
}
BENCHMARK(BM_Layout)
    ->ArgNames({"family", "logLike", "before"})
    ->ArgsProduct({{4, 6}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
