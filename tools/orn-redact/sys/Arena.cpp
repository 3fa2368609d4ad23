#include "Arena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <shared_mutex>

#if defined(__SANITIZE_ADDRESS__)
#define ORN_ARENA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORN_ARENA_UNDER_ASAN 1
#endif
#endif

namespace qiv::redact {

namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;
// Space is made usable in steps this large: few system calls, and at most
// one step more than the tree needs is ever touched.
constexpr std::size_t commitStep = std::size_t{64} << 20;
// Each block starts with its size, which keeps the blocks 16-aligned.
constexpr std::size_t header = 16;
// A freed block at least this large gives its pages back to the system.
constexpr std::size_t returnedFrom = std::size_t{1} << 20;
// What a rewound arena keeps faulted in for the next fill.
constexpr std::size_t keptOnRewind = std::size_t{64} << 20;

// What is reserved for a parse whose first request is first bytes (the
// document's): room for a tree far larger than the document. It is only
// address space until it is touched.
std::size_t ReservationFor(std::size_t first) {
    constexpr std::size_t least = std::size_t{256} << 20;
    if (first > (std::numeric_limits<std::size_t>::max() - commitStep) / 32) {
        return 0;
    }
    return std::max(least, 32 * first + commitStep);
}

constexpr std::size_t RoundUp(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
}

// The live arenas' spaces, so that a block can be told from the general
// allocator's. Almost always none: then no lock is taken.
struct Registry {
    static constexpr std::size_t slots = 64;
    std::shared_mutex mutex;
    std::atomic<unsigned int> live{0};
    std::array<const char*, slots> begins{};
    std::array<const char*, slots> ends{};
    std::array<ParseArena*, slots> owners{};
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

ParseArena::~ParseArena() {
    if (slot_ >= 0) {
        Registry& registry = TheRegistry();
        const std::unique_lock<std::shared_mutex> lock(registry.mutex);
        const auto slot = static_cast<std::size_t>(slot_);
        registry.owners[slot] = nullptr;
        registry.begins[slot] = registry.ends[slot] = nullptr;
        registry.live.fetch_sub(1, std::memory_order_release);
    }
    if (mapping_ != nullptr) {
        ::munmap(mapping_, mappingSize_);
    }
}

bool ParseArena::Reserve(std::size_t first) {
    const std::size_t size = ReservationFor(first);
    if (size == 0) {
        return false;
    }
    // Address space only: nothing is readable, writable or counted against
    // the system's memory until Commit.
    void* mapping = ::mmap(nullptr, size + hugePage, PROT_NONE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) {
        return false;
    }
    mapping_ = static_cast<char*>(mapping);
    mappingSize_ = size + hugePage;
    const auto address = reinterpret_cast<std::uintptr_t>(mapping_);
    base_ = mapping_ + (RoundUp(address, hugePage) - address);
    reserved_ = size;

    Registry& registry = TheRegistry();
    const std::unique_lock<std::shared_mutex> lock(registry.mutex);
    for (std::size_t slot = 0; slot < Registry::slots; ++slot) {
        if (registry.owners[slot] == nullptr) {
            registry.owners[slot] = this;
            registry.begins[slot] = mapping_;
            registry.ends[slot] = mapping_ + mappingSize_;
            registry.live.fetch_add(1, std::memory_order_release);
            slot_ = static_cast<int>(slot);
            return true;
        }
    }
    return false;  // too many at once: the mapping goes with the arena
}

bool ParseArena::Commit(std::size_t end) {
    const std::size_t target = std::min(reserved_, RoundUp(end, commitStep));
    if (target < end) {
        return false;
    }
    char* const from = base_ + committed_;
    const std::size_t length = target - committed_;
    if (::mprotect(from, length, PROT_READ | PROT_WRITE) != 0) {
        return false;
    }
#if defined(MADV_HUGEPAGE)
    ::madvise(from, length, MADV_HUGEPAGE);  // where the kernel does not offer them, plain pages
#endif
    committed_ = target;
    return true;
}

void* ParseArena::Allocate(std::size_t size) {
#if defined(ORN_ARENA_UNDER_ASAN)
    (void)size;
    failed_ = true;
#endif
    if (failed_) {
        return nullptr;
    }
    if (base_ == nullptr && !Reserve(size)) {
        failed_ = true;
        return nullptr;
    }
    if (size > reserved_) {
        return nullptr;
    }
    const std::size_t total = header + RoundUp(size, 16);
    if (total > reserved_ - used_) {
        return nullptr;
    }
    if (used_ + total > committed_ && !Commit(used_ + total)) {
        return nullptr;
    }
    char* const block = base_ + used_;
    used_ += total;
    *reinterpret_cast<std::size_t*>(block) = size;
    return block + header;
}

void ParseArena::Deallocate(void* block) {
    char* const start = static_cast<char*>(block) - header;
    const std::size_t size = *reinterpret_cast<const std::size_t*>(start);
    if (reused_ || size < returnedFrom) {
        return;  // given back with the arena
    }
    // The whole pages inside the block; the block is never handed out again.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = RoundUp(address, page);
    const std::uintptr_t last = (address + size) / page * page;
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    }
}

void ParseArena::Rewind() {
    if (used_ > keptOnRewind) {
        ::madvise(base_ + keptOnRewind, used_ - keptOnRewind, MADV_DONTNEED);
    }
    used_ = 0;
}

ParseArena* ParseArena::Containing(const void* address) {
    Registry& registry = TheRegistry();
    if (registry.live.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    const auto* const byte = static_cast<const char*>(address);
    const std::shared_lock<std::shared_mutex> lock(registry.mutex);
    for (std::size_t slot = 0; slot < Registry::slots; ++slot) {
        if (registry.owners[slot] != nullptr && std::less_equal<>()(registry.begins[slot], byte) &&
            std::less<>()(byte, registry.ends[slot])) {
            return registry.owners[slot];
        }
    }
    return nullptr;
}

}  // namespace qiv::redact
