#include "fileio/table_memory.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "fileio/workers.h"

namespace kelvara {

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
}  // namespace

// A table of at least one large page is mapped on its own, starting on a large-page boundary,
// marked as fit for large pages (touched 512 times less often) and faulted in by every core.
void* allocateZeroedTable(std::size_t bytes) {
    if (bytes < kLargePage) return std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (bytes > static_cast<std::size_t>(-1) - kLargePage) return nullptr;
    void* mapped = mmap(nullptr, bytes + kLargePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t table = (start + kLargePage - 1) & ~(std::uintptr_t{kLargePage} - 1);
    // Only whole pages go back: the table's own last page stays mapped.
    const std::uintptr_t pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t tableEnd = (table + bytes + pageSize - 1) & ~(pageSize - 1);
    const std::uintptr_t end = start + bytes + kLargePage;
    if (table > start) munmap(mapped, table - start);
    if (end > tableEnd) munmap(reinterpret_cast<void*>(tableEnd), end - tableEnd);
    madvise(reinterpret_cast<void*>(table), bytes, MADV_HUGEPAGE);
    fillInParts(reinterpret_cast<unsigned char*>(table), bytes, 0);
    return reinterpret_cast<void*>(table);
}

void releaseZeroedTable(void* table, std::size_t bytes) noexcept {
    if (bytes < kLargePage) {
        std::free(table);
    } else {
        munmap(table, bytes);
    }
}
#else
void* allocateZeroedTable(std::size_t bytes) { return std::calloc(bytes == 0 ? 1 : bytes, 1); }
void releaseZeroedTable(void* table, std::size_t) noexcept { std::free(table); }
#endif

}  // namespace kelvara
