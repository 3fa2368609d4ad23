#pragma once

// Allocation of node and attribute wrappers and of their implementation
// objects.
//
// Every navigation step hands out a new wrapper with a new implementation
// object, and a walk drops them again almost at once. A short per-thread list
// of freed blocks serves these small allocations without a round trip through
// the general-purpose allocator. Blocks come from the global operator new
// (so std::bad_alloc reaches the caller as before) and go back to the global
// operator delete when the list is full or the thread ends. Under
// AddressSanitizer the list is not used, so that every block stays checked.

#include <cstddef>
#include <new>

namespace qiv::detail {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool wrapperCacheEnabled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool wrapperCacheEnabled = false;
#else
inline constexpr bool wrapperCacheEnabled = true;
#endif
#else
inline constexpr bool wrapperCacheEnabled = true;
#endif

class WrapperAllocator {
  public:
    /// Every wrapper and implementation class fits in one block.
    static constexpr std::size_t blockSize = 2 * sizeof(void*);

    static void* Allocate(std::size_t size) {
        if (wrapperCacheEnabled && size <= blockSize) {
            Cache& cache = cache_;
            if (cache.head != nullptr) {
                FreeBlock* block = cache.head;
                cache.head = block->next;
                --cache.count;
                return block;
            }
            return ::operator new(blockSize);
        }
        return ::operator new(size);
    }

    static void Deallocate(void* block, std::size_t size) noexcept {
        if (block == nullptr) {
            return;
        }
        if (wrapperCacheEnabled && size <= blockSize) {
            Cache& cache = cache_;
            if (cache.state != State::Live) {
                if (cache.state == State::Ended || !StartThread()) {
                    ::operator delete(block);
                    return;
                }
            }
            if (cache.count < maxCached) {
                auto* freed = static_cast<FreeBlock*>(block);
                freed->next = cache.head;
                cache.head = freed;
                ++cache.count;
                return;
            }
        }
        ::operator delete(block);
    }

  private:
    struct FreeBlock {
        FreeBlock* next;
    };
    enum class State : unsigned char { Unused, Live, Ended };
    /// Trivially destructible, so reaching it costs no initialisation check.
    struct Cache {
        FreeBlock* head;
        unsigned int count;
        State state;
    };
    static constexpr unsigned int maxCached = 256;

    /// Arranges for the thread's list to be released when the thread ends;
    /// false when that cannot be arranged (the block then bypasses the list).
    static bool StartThread() noexcept;
    /// Releases the thread's list; later blocks bypass it.
    static void EndThread() noexcept;

    // The initial-exec model reaches the variable without a call into the
    // dynamic loader; it takes a few bytes of the static TLS block that the
    // loader keeps in reserve for libraries, also when loaded with dlopen.
    [[gnu::tls_model("initial-exec")]] static inline thread_local Cache cache_{nullptr, 0,
                                                                               State::Unused};
};

}  // namespace qiv::detail
