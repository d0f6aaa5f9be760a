// How an unattended download tries again: a failure the network or the server
// caused (FetchError::transient) is retried after a wait that doubles each
// time, shortened by a random part so that many machines that failed together
// do not come back together; a server's Retry-After is honoured up to a cap.
// Anything else fails at once: another try would only repeat it.
#pragma once

#include <functional>
#include <string>

namespace ipcountry::data {

struct RetryPolicy {
    int retries = 3;              // tries after the first
    double firstWaitSeconds = 5;  // the longest wait before the first retry
    double longestWaitSeconds = 300;
};

// The wait before retry number `retry` (1 for the first): firstWait * 2^(retry-1),
// capped, times a factor between 0.5 and 1 drawn from `jitter` (0 to 1). A
// Retry-After of `serverSeconds` (-1 for none) replaces it, up to the cap.
double retryWaitSeconds(const RetryPolicy& policy, int retry, long serverSeconds, double jitter);

// Runs `attempt` until it returns, retrying transient FetchErrors as the
// policy says; `tell` hears each failure that will be retried ("...; trying
// again in 4 seconds, retry 1 of 3"). The last failure is rethrown.
void withRetries(const RetryPolicy& policy, const std::function<void()>& attempt,
                 const std::function<void(const std::string&)>& tell);

}  // namespace ipcountry::data
