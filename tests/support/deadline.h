#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace ipcountry::test_support {

// A wait's own deadline: a step that should end on its own (a run over a
// pipe that waits for a cancel, a thread to join) and does not within
// `limit` ends the test program with a message naming the step, rather than
// holding the suite until ctest's global timeout. The limit is a bound on a
// hang, far above any normal run, not a measure of speed.
class Deadline {
public:
    Deadline(std::string what, std::chrono::seconds limit = std::chrono::seconds(120))
        : m_what(std::move(what)), m_watch([this, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  std::fprintf(stderr, "\n%s did not end within %lld s: stopping the tests\n",
                               m_what.c_str(), static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::abort();
              }
          }) {}
    ~Deadline() {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_watch.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_watch;  // last: starts once the rest is ready
};

}  // namespace ipcountry::test_support
