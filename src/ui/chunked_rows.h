#pragma once

#include <cstddef>
#include <cstring>
#include <future>
#include <new>
#include <utility>
#include <vector>

namespace ipcountry::ui {

// A sequence of rows kept in chunks of a fixed size that never move once
// allocated. A vector that doubles copies every row it holds each time it
// grows and briefly needs its old and new blocks at once: for the millions
// of rows of a gigabyte log that was a large share of the window's run and
// half again of its peak memory. Here an append writes one row and, once
// per chunk, takes the next chunk.
//
// From the second chunk on, the one after it is allocated and its pages
// touched on a thread of its own while the current one fills: the kernel's
// work for a fresh page (a fault, zeroing it) then happens beside the thread
// that appends, which is the window's, instead of once per 4 KiB on it.
template <class T, std::size_t PerChunk = (std::size_t{2} << 20) / sizeof(T)>
class ChunkedRows {
public:
    static constexpr std::size_t kPerChunk = PerChunk;
    static_assert(kPerChunk > 0);

    ChunkedRows() = default;
    ChunkedRows(const ChunkedRows&) = delete;
    ChunkedRows& operator=(const ChunkedRows&) = delete;
    ~ChunkedRows() { truncate(0); }

    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

    T& operator[](std::size_t i) noexcept { return m_chunks[i / kPerChunk][i % kPerChunk]; }
    const T& operator[](std::size_t i) const noexcept {
        return m_chunks[i / kPerChunk][i % kPerChunk];
    }

    // The rows by index while their count stays as it is: the chunks'
    // addresses held in a local, where a loop that also writes elsewhere
    // need not load them again for every row.
    class Fixed {
    public:
        explicit Fixed(T* const* chunks) noexcept : m_chunks(chunks) {}
        T& operator[](std::size_t i) const noexcept {
            return m_chunks[i / kPerChunk][i % kPerChunk];
        }

    private:
        T* const* m_chunks;
    };
    Fixed fixed() noexcept { return Fixed(m_chunks.data()); }

    void push_back(T&& value) {
        if (m_size / kPerChunk == m_chunks.size()) addChunk();
        new (m_chunks[m_size / kPerChunk] + m_size % kPerChunk) T(std::move(value));
        ++m_size;
    }

    // Puts `value` at `index`, moving the rows from there on down by one.
    void insert(std::size_t index, T&& value) {
        push_back(std::move(value));
        for (std::size_t i = m_size - 1; i > index; --i) {
            std::swap((*this)[i], (*this)[i - 1]);
        }
    }

    // Destroys the rows from `count` on and frees the chunks left empty, so
    // that a cleared grid gives its memory back.
    void truncate(std::size_t count) noexcept {
        while (m_size > count) {
            --m_size;
            (*this)[m_size].~T();
        }
        const std::size_t used = (m_size + kPerChunk - 1) / kPerChunk;
        while (m_chunks.size() > used) {
            release(m_chunks.back());
            m_chunks.pop_back();
        }
        dropSpare();
    }

private:
    // Apart from push_back, so that the append of a row stays small enough
    // to be inlined where rows are appended one by one.
    [[gnu::noinline]] void addChunk() {
        T* fresh = m_spare.valid() ? m_spare.get() : allocate();
        try {
            m_chunks.push_back(fresh);
        } catch (...) {
            release(fresh);
            throw;
        }
        if (m_chunks.size() >= 2) prepareSpare();
    }
    static T* allocate() { return static_cast<T*>(::operator new(kPerChunk * sizeof(T))); }
    static void release(T* memory) noexcept { ::operator delete(memory); }
    void prepareSpare() noexcept {
        try {
            m_spare = std::async(std::launch::async, [] {
                T* spare = allocate();
                std::memset(static_cast<void*>(spare), 0, kPerChunk * sizeof(T));
                return spare;
            });
        } catch (...) {
            // No thread to be had: the next chunk is allocated when it is needed.
        }
    }
    void dropSpare() noexcept {
        if (!m_spare.valid()) return;
        try {
            release(m_spare.get());
        } catch (...) {
            // It could not be allocated: nothing to give back.
        }
    }

    std::vector<T*> m_chunks;
    std::size_t m_size = 0;
    std::future<T*> m_spare;  // the chunk after the last, being prepared
};

}  // namespace ipcountry::ui
