// Memory for the large tables of an OpenPGP reading (events, key blocks,
// kept signature data): anonymous mappings whose pages cost nothing until
// touched, and, past the first, marked for transparent huge pages so that
// hundreds of megabytes fault in 2 MiB at a time rather than 4 KiB (on a
// virtual machine each fault is costly).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <thread>
#include <utility>
#include <vector>

// One mapping of at least size bytes (a multiple of 2 MiB, aligned to it),
// for huge pages from the start when huge; throws std::bad_alloc when the
// system refuses it.
struct table_memory {
    void* at = nullptr;
    size_t bytes = 0;
    std::thread filler; // populate_ahead's, waited for before unmapping

    table_memory() = default;
    table_memory(size_t size, bool huge);
    ~table_memory();
    table_memory(table_memory&& other) noexcept
        : at(std::exchange(other.at, nullptr)), bytes(std::exchange(other.bytes, 0)),
          filler(std::move(other.filler)) {}
    table_memory& operator=(table_memory&& other) noexcept;
    table_memory(const table_memory&) = delete;
    table_memory& operator=(const table_memory&) = delete;
};

// Marks m for huge pages from now on (the pages touched keep their size).
void advise_huge_pages(table_memory& m);

// Has a helper thread fault in m's pages (the kernel zeroes them) while the
// caller goes on, so that the thread that fills m later does not pay for
// it. Only a speed-up: without a thread, m works the same.
void populate_ahead(table_memory& m);

// An append-only array of trivially copyable T in chunks of 8 MiB: elements
// never move, so a pointer to one stays valid while more are appended. The
// first chunk takes huge pages only once a quarter of it is used, so that a
// small list touches a few small pages.
template <typename T> struct chunked_list {
    static constexpr size_t CHUNK_BYTES = size_t{8} << 20;
    static constexpr size_t PER_CHUNK = CHUNK_BYTES / sizeof(T);

    std::vector<table_memory> chunks;
    size_t count = 0;

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](size_t i) { return static_cast<T*>(chunks[i / PER_CHUNK].at)[i % PER_CHUNK]; }
    const T& operator[](size_t i) const {
        return static_cast<const T*>(chunks[i / PER_CHUNK].at)[i % PER_CHUNK];
    }
    T& back() { return (*this)[count - 1]; }
    const T& back() const { return (*this)[count - 1]; }
    table_memory next; // the chunk after the last, populated ahead

    T& push_back(const T& value) {
        if (count == chunks.size() * PER_CHUNK) add_chunk();
        if (count == PER_CHUNK / 4) advise_huge_pages(chunks.front());
        T* slot = static_cast<T*>(chunks.back().at) + count % PER_CHUNK;
        ::new (static_cast<void*>(slot)) T(value);
        ++count;
        return *slot;
    }

    // A list that outgrows its first chunk is large: the chunk after the
    // new one is prepared meanwhile.
    void add_chunk() {
        if (next.at != nullptr)
            chunks.push_back(std::move(next));
        else
            chunks.emplace_back(CHUNK_BYTES, !chunks.empty());
        if (chunks.size() < 2) return;
        next = table_memory(CHUNK_BYTES, true);
        populate_ahead(next);
    }
};
