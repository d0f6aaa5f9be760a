#include "batch_find.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "batch_analysis.h"

namespace ipcountry::batch {

namespace {

constexpr std::size_t kReadSize = std::size_t{1} << 16;
// Addresses read before their lookups start, so that the memory reads of
// the lookups overlap.
constexpr std::size_t kBatch = 64;

// A wrong line's message, to go out between the rows around it.
struct WrongLine {
    std::size_t position;  // in the block's rows
    std::int64_t line;     // in the block, from 1
    std::string message;
};

struct Block {
    std::string text;  // whole lines, each ended by LF but the input's last
    std::string rows;
    std::vector<WrongLine> wrong;
    std::int64_t lines = 0;
    std::exception_ptr failure;  // the worker's, thrown when the block's turn comes
    bool done = false;
};

class Pipeline {
public:
    Pipeline(analysis::AddressFinder& finder, Format format, unsigned threads)
        : m_finder(finder), m_format(format), m_threads(threads), m_limit(2 * threads + 2) {}

    // Whatever ends the run, no thread outlives it.
    ~Pipeline() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& thread : m_running) thread.join();
    }

    int run(Output& out, bool& failed);

private:
    void read();
    bool push(std::unique_ptr<Block> block);
    void readEnded(int error, std::exception_ptr failure);
    void work();
    void answer(analysis::AddressFinder& finder, RowWriter& writer, Output& rows, Block& block);

    analysis::AddressFinder& m_finder;
    const Format m_format;
    const unsigned m_threads;
    const std::size_t m_limit;  // blocks read and not yet written

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Block>> m_blocks;  // read and not yet written, in input order
    std::size_t m_unclaimed = 0;                  // in m_blocks, the first no worker took
    bool m_readAll = false;
    int m_readError = 0;
    std::exception_ptr m_readFailure;
    bool m_stop = false;
    std::vector<std::thread> m_running;
};

int Pipeline::run(Output& out, bool& failed) {
    for (unsigned i = 0; i < m_threads; ++i) m_running.emplace_back([this] { work(); });
    m_running.emplace_back([this] { read(); });
    std::int64_t linesBefore = 0;
    for (;;) {
        std::unique_ptr<Block> block;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] {
                return (!m_blocks.empty() && m_blocks.front()->done) ||
                       (m_readAll && m_blocks.empty());
            });
            if (m_blocks.empty()) break;
            block = std::move(m_blocks.front());
            m_blocks.pop_front();
            --m_unclaimed;
        }
        m_changed.notify_all();
        if (block->failure) std::rethrow_exception(block->failure);
        std::size_t from = 0;
        for (const WrongLine& wrong : block->wrong) {
            out.buffer().append(block->rows, from, wrong.position - from);
            from = wrong.position;
            // Answers before the message stay before it when both streams go to one place.
            out.flush();
            std::cerr << "line " << linesBefore + wrong.line << ": " << wrong.message << '\n';
            failed = true;
        }
        out.buffer().append(block->rows, from);
        out.rowDone();
        linesBefore += block->lines;
    }
    if (m_readFailure) std::rethrow_exception(m_readFailure);
    return m_readError;
}

// A line cut by the end of a read goes whole with the next block.
void Pipeline::read() {
    try {
        std::vector<char> buffer(kReadSize);
        std::string carried;
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return readEnded(errno, nullptr);
            if (got == 0) break;
            const std::string_view data(buffer.data(), static_cast<std::size_t>(got));
            const std::size_t end = data.rfind('\n');
            if (end == std::string_view::npos) {
                carried.append(data);
                continue;
            }
            auto block = std::make_unique<Block>();
            block->text.reserve(carried.size() + end + 1);
            block->text.append(carried).append(data.substr(0, end + 1));
            carried.assign(data.substr(end + 1));
            if (!push(std::move(block))) return;
        }
        // The last line needs no line end.
        if (!carried.empty()) {
            auto block = std::make_unique<Block>();
            block->text = std::move(carried);
            if (!push(std::move(block))) return;
        }
        readEnded(0, nullptr);
    } catch (...) {
        readEnded(0, std::current_exception());
    }
}

bool Pipeline::push(std::unique_ptr<Block> block) {
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stop || m_blocks.size() < m_limit; });
        if (m_stop) return false;
        m_blocks.push_back(std::move(block));
    }
    m_changed.notify_all();
    return true;
}

void Pipeline::readEnded(int error, std::exception_ptr failure) {
    {
        const std::lock_guard lock(m_mutex);
        m_readAll = true;
        m_readError = error;
        m_readFailure = std::move(failure);
    }
    m_changed.notify_all();
}

void Pipeline::work() {
    analysis::AddressFinder finder(m_finder);
    Output rows(Output::Kept{});
    RowWriter writer(rows, m_format);
    for (;;) {
        Block* block = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock,
                           [&] { return m_stop || m_readAll || m_unclaimed < m_blocks.size(); });
            if (m_stop || m_unclaimed == m_blocks.size()) return;
            block = m_blocks[m_unclaimed++].get();
        }
        try {
            answer(finder, writer, rows, *block);
        } catch (...) {
            block->failure = std::current_exception();
            rows.buffer().clear();
        }
        {
            const std::lock_guard lock(m_mutex);
            block->done = true;
        }
        m_changed.notify_all();
    }
}

// As the single thread answers its lines: empty lines are counted and not
// answered, a CR before the LF is no part of the line.
void Pipeline::answer(analysis::AddressFinder& finder, RowWriter& writer, Output& rows,
                      Block& block) {
    std::vector<std::string_view> addresses;
    std::vector<std::int64_t> numbers;
    std::vector<analysis::AddressFinder::Found> found;
    addresses.reserve(kBatch);
    numbers.reserve(kBatch);
    const auto answerBatch = [&] {
        finder.findEach(addresses, found);
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (!found[i].error)
                writer.findRow(addresses[i], found[i].answer);
            else
                block.wrong.push_back(
                    {rows.buffer().size(), numbers[i], wrongDataMessage(found[i].error->what())});
        }
        addresses.clear();
        numbers.clear();
    };
    rows.buffer().reserve(block.text.size() * 2);
    std::string_view rest = block.text;
    std::int64_t number = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        if (line.empty()) continue;
        addresses.push_back(line);
        numbers.push_back(number);
        if (addresses.size() == kBatch) answerBatch();
    }
    if (!addresses.empty()) answerBatch();
    block.lines = number;
    block.rows.swap(rows.buffer());
    rows.buffer().clear();
}

}  // namespace

int findStandardInputOnThreads(analysis::AddressFinder& finder, Format format, unsigned threads,
                               Output& out, bool& failed) {
    Pipeline pipeline(finder, format, threads);
    return pipeline.run(out, failed);
}

}  // namespace ipcountry::batch
