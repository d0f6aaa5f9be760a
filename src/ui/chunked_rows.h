#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace ipcountry::ui {

// A sequence of rows kept in chunks of a fixed size that never move once
// allocated. A vector that doubles copies every row it holds each time it
// grows and briefly needs its old and new blocks at once: for the millions
// of rows of a gigabyte log that was a large share of the window's run and
// half again of its peak memory. Here an append writes one row and, once
// per chunk, allocates the next chunk.
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

    void push_back(T&& value) {
        const std::size_t chunk = m_size / kPerChunk;
        if (chunk == m_chunks.size()) {
            T* fresh = allocate();
            try {
                m_chunks.push_back(fresh);
            } catch (...) {
                release(fresh);
                throw;
            }
        }
        new (m_chunks[chunk] + m_size % kPerChunk) T(std::move(value));
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
    }

private:
    static T* allocate() { return static_cast<T*>(::operator new(kPerChunk * sizeof(T))); }
    static void release(T* memory) noexcept { ::operator delete(memory); }

    std::vector<T*> m_chunks;
    std::size_t m_size = 0;
};

}  // namespace ipcountry::ui
