#include "table_memory.h"

#include <sys/mman.h>

namespace {

constexpr size_t HUGE_PAGE = size_t{2} << 20;

} // namespace

table_memory::table_memory(size_t size, bool huge) {
    bytes = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    // Mapped one huge page larger and trimmed to an aligned start, as huge
    // pages only fill aligned ranges.
    const size_t mapped = bytes + HUGE_PAGE;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    // Unmapping the unused ends of a mapping just made cannot fail; were it
    // to, only address space would be lost.
    if (aligned > start) (void)munmap(p, aligned - start);
    if (start + mapped > aligned + bytes)
        (void)munmap(reinterpret_cast<void*>(aligned + bytes), start + mapped - aligned - bytes);
    at = reinterpret_cast<void*>(aligned);
    if (huge) advise_huge_pages(*this);
}

void advise_huge_pages(table_memory& m) {
    // Only a hint: without huge pages the memory works the same, slower.
    (void)madvise(m.at, m.bytes, MADV_HUGEPAGE);
}

table_memory::~table_memory() {
    // Unmapping a mapping of our own cannot fail.
    if (at != nullptr) (void)munmap(at, bytes);
}

table_memory& table_memory::operator=(table_memory&& other) noexcept {
    if (this != &other) {
        if (at != nullptr) (void)munmap(at, bytes); // as in the destructor
        at = std::exchange(other.at, nullptr);
        bytes = std::exchange(other.bytes, 0);
    }
    return *this;
}
