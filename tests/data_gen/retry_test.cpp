// The waits of the updater's retries: doubling, shortened by the random part
// by at most half, capped, and the server's Retry-After taken as it is up to
// the cap; and which failures are tried again at all.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "fetch.h"
#include "retry.h"

namespace {

using ipcountry::data::FetchError;
using ipcountry::data::RetryPolicy;
using ipcountry::data::retryWaitSeconds;
using ipcountry::data::withRetries;

TEST(RetryWait, doublesWithJitterUpToTheCapAndHonoursTheServer) {
    const RetryPolicy policy{3, 4.0, 20.0};
    const struct {
        int retry;
        long server;
        double jitter;
        double wait;
    } cases[] = {
        {1, -1, 1.0, 4.0},  {1, -1, 0.0, 2.0},  {2, -1, 1.0, 8.0},    {3, -1, 0.5, 12.0},
        {3, -1, 1.0, 16.0}, {4, -1, 1.0, 20.0}, {4, -1, 0.0, 10.0},   {40, -1, 1.0, 20.0},
        {1, 7, 0.0, 7.0},   {1, 0, 1.0, 0.0},   {1, 3600, 1.0, 20.0}, {2, -1, 2.0, 8.0},
        {2, -1, -1.0, 4.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(retryWaitSeconds(policy, c.retry, c.server, c.jitter), c.wait)
            << "retry " << c.retry << ", server " << c.server << ", jitter " << c.jitter;
}

TEST(WithRetries, retriesTransientFailuresOnlyAndRethrowsTheLast) {
    const RetryPolicy policy{2, 0.0, 0.0};
    const struct {
        const char* name;
        std::vector<int> failures;  // per attempt: 1 transient, 2 permanent, 0 success
        int attempts;
        int told;
        bool throws;
    } cases[] = {
        {"firstTime", {0}, 1, 0, false},
        {"twoTransientThenSuccess", {1, 1, 0}, 3, 2, false},
        {"transientPastTheLimit", {1, 1, 1, 0}, 3, 2, true},
        {"permanentAtOnce", {2, 0}, 1, 0, true},
        {"transientThenPermanent", {1, 2, 0}, 2, 1, true},
    };
    for (const auto& c : cases) {
        int attempts = 0, told = 0;
        bool threw = false;
        try {
            withRetries(
                policy,
                [&] {
                    const int kind = c.failures.at(static_cast<std::size_t>(attempts++));
                    if (kind != 0) throw FetchError("failed", kind == 1);
                },
                [&](const std::string&) { ++told; });
        } catch (const FetchError&) {
            threw = true;
        }
        EXPECT_EQ(attempts, c.attempts) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
        EXPECT_EQ(threw, c.throws) << c.name;
    }
}

}  // namespace
