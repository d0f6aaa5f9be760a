#include "retry.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "fetch.h"

namespace ipcountry::data {

double retryWaitSeconds(const RetryPolicy& policy, int retry, long serverSeconds, double jitter) {
    if (serverSeconds >= 0)
        return std::min(static_cast<double>(serverSeconds), policy.longestWaitSeconds);
    const double doubled = policy.firstWaitSeconds * std::ldexp(1.0, std::clamp(retry, 1, 30) - 1);
    return std::min(doubled, policy.longestWaitSeconds) *
           (0.5 + 0.5 * std::clamp(jitter, 0.0, 1.0));
}

void withRetries(const RetryPolicy& policy, const std::function<void()>& attempt,
                 const std::function<void(const std::string&)>& tell) {
    std::mt19937_64 random{std::random_device{}()};
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    for (int retry = 1;; ++retry) {
        try {
            attempt();
            return;
        } catch (const FetchError& e) {
            if (!e.transient() || retry > policy.retries) throw;
            const double wait =
                retryWaitSeconds(policy, retry, e.retryAfterSeconds(), jitter(random));
            const long shown = std::lround(std::ceil(wait));
            tell(std::string(e.what()) + "; trying again in " + std::to_string(shown) +
                 (shown == 1 ? " second" : " seconds") + ", retry " + std::to_string(retry) +
                 " of " + std::to_string(policy.retries));
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        }
    }
}

}  // namespace ipcountry::data
