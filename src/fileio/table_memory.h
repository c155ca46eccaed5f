// Memory for the large per-node and per-cell tables of a run: zeroed, faulted in once by every
// core, on large pages where the system has them.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvara {

// Zeroed memory for a table of the run, and its release (bytes as allocated). A large table is
// mapped on its own on large-page boundaries, marked fit for large pages, and written once with
// zeros in parts shared out over the cores: touching fresh memory is what a streaming run spends
// most of its time on after reading, a page first read would be faulted twice (the system's
// shared zero page, then its own at the first write), and one core faults pages in slowly.
void* allocateZeroedTable(std::size_t bytes);
void releaseZeroedTable(void* table, std::size_t bytes) noexcept;

// Allocator of the run's tables: memory from allocateZeroedTable, whose elements are not written
// again when the table is sized.
template <class T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <class U>
    ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* p = allocateZeroedTable(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { releaseZeroedTable(p, n * sizeof(T)); }
    // Sizing a table leaves its elements as they were allocated: zero.
    template <class U>
    void construct(U*) noexcept {
        static_assert(std::is_trivially_default_constructible_v<U>, "tables hold plain numbers");
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const ZeroedAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const ZeroedAllocator<U>&) const noexcept { return false; }
};

// A per-node or per-cell table of the run; resize() gives zeros.
template <class T>
using Table = std::vector<T, ZeroedAllocator<T>>;

}  // namespace kelvara
