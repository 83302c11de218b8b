#include "table_memory.h"

#include <sys/mman.h>
#include <system_error>

namespace {

constexpr size_t HUGE_PAGE = size_t{2} << 20;

} // namespace

table_memory::table_memory(size_t size, bool huge) {
    bytes = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    // Mapped one huge page larger and trimmed to an aligned start, as huge
    // pages only fill aligned ranges.
    const size_t mapped = bytes + HUGE_PAGE;
    // cppcheck-suppress invalidFunctionArg ; -1 is the descriptor an anonymous mapping takes
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    uint8_t* const base = static_cast<uint8_t*>(p);
    const size_t skip = (HUGE_PAGE - reinterpret_cast<uintptr_t>(p) % HUGE_PAGE) % HUGE_PAGE;
    // Unmapping the unused ends of a mapping just made cannot fail; were it
    // to, only address space would be lost.
    if (skip > 0) (void)munmap(base, skip);
    if (mapped - skip > bytes) (void)munmap(base + skip + bytes, mapped - skip - bytes);
    at = base + skip;
    if (huge) advise_huge_pages(*this);
}

void advise_huge_pages(table_memory& m) {
    // Only a hint: without huge pages the memory works the same, slower.
    (void)madvise(m.at, m.bytes, MADV_HUGEPAGE);
}

void populate_ahead(table_memory& m) {
    try {
        m.filler = std::thread([at = m.at, bytes = m.bytes] {
            // Faults the pages in without writing to them, so that the
            // filling thread may write at the same time. Without memory or
            // on an older kernel nothing is populated: the pages fault in
            // when first used, as they would anyway.
            (void)madvise(at, bytes, MADV_POPULATE_WRITE);
        });
    } catch (const std::system_error&) {
        // No thread: the pages fault in as they are used.
    }
}

namespace {

void release(table_memory& m) {
    if (m.filler.joinable()) m.filler.join();
    // Unmapping a mapping of our own cannot fail.
    if (m.at != nullptr) (void)munmap(m.at, m.bytes);
}

} // namespace

table_memory::~table_memory() {
    release(*this);
}

table_memory& table_memory::operator=(table_memory&& other) noexcept {
    if (this != &other) {
        release(*this);
        at = std::exchange(other.at, nullptr);
        bytes = std::exchange(other.bytes, 0);
        filler = std::move(other.filler);
    }
    return *this;
}
