#include "HeapWarmer.h"

#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include <pugixml.hpp>

namespace qiv::redact {

namespace {

// Where the latest block handed to pugixml ends. The parser fills its pages in
// order, so this is where it is writing.
std::atomic<std::uintptr_t> lastAllocationEnd{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size);
    if (block != nullptr) {
        lastAllocationEnd.store(reinterpret_cast<std::uintptr_t>(block) + size,
                                std::memory_order_relaxed);
    }
    return block;
}

void Deallocate(void* block) { std::free(block); }

// What warming needs of the platform: glibc's heap and a way to fault pages in
// without writing them.
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
constexpr bool canWarm = true;

// While a warmer runs the heap grows in steps this large, so that there is
// room beyond the latest allocation to touch; glibc's own step otherwise.
void SetHeapStep(bool large) { ::mallopt(M_TOP_PAD, large ? 64 << 20 : 128 << 10); }

std::uintptr_t HeapTop() { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

// Fails, touching nothing, where the range is no longer mapped (the heap shrank).
bool Touch(std::uintptr_t begin, std::uintptr_t end) {
    return ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
}
#else
constexpr bool canWarm = false;
void SetHeapStep(bool) {}
std::uintptr_t HeapTop() { return 0; }
bool Touch(std::uintptr_t, std::uintptr_t) { return false; }
#endif

}  // namespace

void TrackParserAllocations() { pugi::set_memory_management_functions(Allocate, Deallocate); }

HeapWarmer::Range HeapWarmer::NextRange(std::uintptr_t allocationEnd, std::uintptr_t heapTop,
                                        std::uintptr_t frontier, std::uintptr_t pageSize) {
    const std::uintptr_t at = (allocationEnd + pageSize - 1) & ~(pageSize - 1);
    // Not yet allocating, or allocating outside the main heap (a large block
    // mapped on its own, another thread's arena): nothing to follow.
    if (allocationEnd == 0 || at > heapTop) {
        return {};
    }
    // Touching starts at the allocation when it is behind or far ahead of it
    // (memory freed and handed out again lower down).
    const std::uintptr_t begin = frontier < at || frontier > at + Lead ? at : frontier;
    const std::uintptr_t end = std::min({heapTop, at + Lead, begin + Step});
    return begin < end ? Range{begin, end} : Range{};
}

HeapWarmer::HeapWarmer(bool enabled) : enabled_(enabled && canWarm) {
    if (!enabled_) {
        return;
    }
    SetHeapStep(true);
    try {
        thread_ = std::thread([this]() { Run(); });
    } catch (const std::system_error&) {
    }
}

HeapWarmer::~HeapWarmer() {
    stop_.store(true, std::memory_order_release);
    if (thread_.joinable()) {
        thread_.join();
    }
    if (enabled_) {
        SetHeapStep(false);
    }
}

void HeapWarmer::Run() {
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    std::uintptr_t frontier = 0;
    while (!stop_.load(std::memory_order_acquire)) {
        const Range range = NextRange(lastAllocationEnd.load(std::memory_order_relaxed), HeapTop(),
                                      frontier, pageSize);
        if (range.begin < range.end && Touch(range.begin, range.end)) {
            frontier = range.end;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

}  // namespace qiv::redact
