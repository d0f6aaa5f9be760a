#include "analysis/ordered_pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/analysis.h"

namespace ipcountry::analysis {

namespace {

// Blocks read, scanned or waiting to be applied at any one time, whatever
// the thread count: each holds one of the reader's buffers of two blocks (or
// a window of a mapped file, as large) and the results of a quarter of a block.
constexpr unsigned kMostBlocksInFlight = kMostWorkerThreads;

struct Unit {
    enum class Kind {
        Lines,   // whole lines, for a worker
        Piece,   // a piece of a long line, worked on the calling thread
        End,     // the input is complete
        Failed,  // the reader failed here
    };
    enum class State { Free, Filling, Queued, Scanning, Ready };

    std::uint64_t sequence = 0;
    State state = State::Free;
    Kind kind = Kind::End;
    std::string_view text;               // in the reader's buffer,
    LineReader::Buffer* held = nullptr;  // held until the unit is applied
    bool lineEnds = true;
    bool blockWasRead = false;
    std::uint64_t bytesRead = 0;
    std::uint64_t fileSize = 0;
    std::unique_ptr<BlockResult> result;
    std::exception_ptr failure;

    void release() {
        if (held != nullptr) LineReader::release(std::exchange(held, nullptr));
        text = {};
    }
};

class Pipeline {
public:
    Pipeline(LineReader& reader, OrderedWork& work, const PipelineSettings& settings,
             Progress* progress)
        : m_reader(reader),
          m_work(work),
          m_progress(progress),
          m_threads(std::max(1u, settings.threads)),
          m_linesLimit(linesPerBlock(settings)),
          m_units(std::min(m_threads + 2, kMostBlocksInFlight)) {}

    ~Pipeline() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_freed.notify_all();
        m_queued.notify_all();
        for (std::thread& thread : m_running) thread.join();
        for (Unit& unit : m_units) unit.release();
    }

    PipelineEnd run() {
        for (Unit& unit : m_units) unit.result = m_work.makeResult();
        std::vector<std::unique_ptr<BlockScanner>> scanners;
        for (unsigned i = 0; i < std::min<unsigned>(m_threads, kMostBlocksInFlight); ++i)
            scanners.push_back(m_work.makeScanner());
        m_scanners = std::move(scanners);
        m_running.emplace_back([this] { readAll(); });
        for (auto& scanner : m_scanners)
            m_running.emplace_back([this, &scanner] { scanAll(*scanner); });

        for (std::uint64_t sequence = 0;; ++sequence) {
            Unit& unit = m_units[sequence % m_units.size()];
            if (!waitReady(unit, sequence)) return PipelineEnd::Stopped;
            switch (unit.kind) {
                case Unit::Kind::End:
                    return PipelineEnd::Completed;
                case Unit::Kind::Failed:
                    std::rethrow_exception(unit.failure);
                case Unit::Kind::Lines:
                case Unit::Kind::Piece:
                    break;
            }
            // As a single thread reports it: after reading a block, before its lines.
            if (unit.blockWasRead && m_progress != nullptr &&
                !m_progress->update(unit.bytesRead, unit.fileSize))
                return PipelineEnd::Stopped;
            if (unit.failure) std::rethrow_exception(unit.failure);
            // A result keeps places in the text, read again as it is applied:
            // text that reads as zeros now (a file cut short under its map)
            // never reaches the rows.
            LineReader::checkRead(unit.held, unit.text);
            const bool goOn = unit.kind == Unit::Kind::Lines
                                  ? m_work.apply(*unit.result)
                                  : m_work.piece(unit.text, unit.lineEnds);
            if (!goOn) return PipelineEnd::Stopped;
            unit.release();
            {
                const std::lock_guard lock(m_mutex);
                unit.state = Unit::State::Free;
            }
            m_freed.notify_one();
        }
    }

private:
    // The reader thread: fills the units in turn, in the order of the input.
    void readAll() {
        for (std::uint64_t sequence = 0;; ++sequence) {
            Unit& unit = m_units[sequence % m_units.size()];
            {
                std::unique_lock lock(m_mutex);
                m_freed.wait(lock, [&] { return m_stop || unit.state == Unit::State::Free; });
                if (m_stop) return;
                unit.sequence = sequence;
                unit.state = Unit::State::Filling;
            }
            unit.failure = nullptr;
            unit.blockWasRead = false;
            try {
                for (;;) {
                    std::string_view text;
                    bool wholeLines = false;
                    bool lineEnds = false;
                    const LineReader::Next next =
                        m_reader.nextLines(text, wholeLines, lineEnds, m_linesLimit);
                    unit.blockWasRead = unit.blockWasRead || m_reader.blockWasRead();
                    m_bytesRead.store(m_reader.bytesRead(), std::memory_order_relaxed);
                    m_fileSize.store(m_reader.fileSize(), std::memory_order_relaxed);
                    if (next == LineReader::Next::Idle) {
                        // Told on the calling thread, so that a quiet pipe can be cancelled.
                        {
                            const std::lock_guard lock(m_mutex);
                            if (m_stop) return;
                            m_idle = true;
                        }
                        m_ready.notify_one();
                        continue;
                    }
                    if (next == LineReader::Next::End) {
                        unit.kind = Unit::Kind::End;
                        break;
                    }
                    unit.kind = wholeLines ? Unit::Kind::Lines : Unit::Kind::Piece;
                    unit.text = text;
                    unit.held = m_reader.hold();
                    unit.lineEnds = lineEnds;
                    break;
                }
                unit.bytesRead = m_reader.bytesRead();
                unit.fileSize = m_reader.fileSize();
            } catch (...) {
                // The reader is not asked anything more: an input whose
                // unpacker could not even start has no size to tell.
                unit.kind = Unit::Kind::Failed;
                unit.failure = std::current_exception();
            }
            const bool scan = unit.kind == Unit::Kind::Lines;
            {
                const std::lock_guard lock(m_mutex);
                unit.state = scan ? Unit::State::Queued : Unit::State::Ready;
                if (scan) m_toScan.push_back(&unit);
            }
            if (scan)
                m_queued.notify_one();
            else
                m_ready.notify_one();
            if (unit.kind == Unit::Kind::End || unit.kind == Unit::Kind::Failed) return;
        }
    }

    // A worker thread: scans whichever block of lines waits longest.
    void scanAll(BlockScanner& scanner) {
        for (;;) {
            Unit* unit = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_queued.wait(lock, [&] { return m_stop || !m_toScan.empty(); });
                if (m_stop) return;
                unit = m_toScan.front();
                m_toScan.pop_front();
                unit->state = Unit::State::Scanning;
            }
            try {
                scanner.scanLines(unit->text, *unit->result);
            } catch (...) {
                unit->failure = std::current_exception();
            }
            {
                const std::lock_guard lock(m_mutex);
                unit->state = Unit::State::Ready;
            }
            m_ready.notify_one();
        }
    }

    // Waits for the unit of `sequence`, telling the progress whenever the
    // input had nothing for a moment, as a single thread does. False: cancelled.
    bool waitReady(Unit& unit, std::uint64_t sequence) {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_ready.wait(lock, [&] {
                return m_idle || (unit.sequence == sequence && unit.state == Unit::State::Ready);
            });
            if (unit.sequence == sequence && unit.state == Unit::State::Ready) return true;
            m_idle = false;
            if (m_progress == nullptr) continue;
            lock.unlock();
            const bool goOn = m_progress->update(m_bytesRead.load(std::memory_order_relaxed),
                                                 m_fileSize.load(std::memory_order_relaxed));
            lock.lock();
            if (!goOn) return false;
        }
    }

    LineReader& m_reader;
    OrderedWork& m_work;
    Progress* m_progress;
    const unsigned m_threads;
    const std::size_t m_linesLimit;

    std::mutex m_mutex;
    std::condition_variable m_freed;   // a unit became free: the reader
    std::condition_variable m_queued;  // lines to scan: the workers
    std::condition_variable m_ready;   // a unit is ready: the calling thread
    bool m_stop = false;
    bool m_idle = false;        // the reader found nothing to read for a moment
    std::vector<Unit> m_units;  // in turn: unit i holds the blocks i, i + n, ...
    std::deque<Unit*> m_toScan;
    std::atomic<std::uint64_t> m_bytesRead{0};
    std::atomic<std::uint64_t> m_fileSize{0};

    std::vector<std::unique_ptr<BlockScanner>> m_scanners;
    std::vector<std::thread> m_running;
};

}  // namespace

unsigned defaultThreadCount() { return std::max(1u, std::thread::hardware_concurrency()); }

PipelineEnd runOrderedPipeline(LineReader& reader, OrderedWork& work,
                               const PipelineSettings& settings, Progress* progress) {
    Pipeline pipeline(reader, work, settings, progress);
    return pipeline.run();
}

}  // namespace ipcountry::analysis
