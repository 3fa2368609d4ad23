#include "internal/WrapperAllocator.h"

namespace qiv::detail {

bool WrapperAllocator::StartThread() noexcept {
    struct ThreadEnd {
        ~ThreadEnd() { EndThread(); }
    };
    // Initialised on the first pass only; destroyed when the thread ends.
    static thread_local ThreadEnd threadEnd;
    static_cast<void>(threadEnd);
    cache_.state = State::Live;
    return true;
}

void WrapperAllocator::EndThread() noexcept {
    Cache& cache = cache_;
    cache.state = State::Ended;
    while (cache.head != nullptr) {
        FreeBlock* block = cache.head;
        cache.head = block->next;
        ::operator delete(block);
    }
    cache.count = 0;
}

}  // namespace qiv::detail
