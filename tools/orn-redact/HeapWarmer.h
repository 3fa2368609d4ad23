#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace qiv::redact {

/// Routes pugixml's allocations through the tool, so that a HeapWarmer can
/// follow where the parser is writing. Call once, before any document exists.
void TrackParserAllocations();

/// While it lives, a helper thread touches the pages of the main heap just
/// beyond the parser's latest allocation, so that the page faults for a new
/// document's nodes are taken on another processor instead of in the parse.
/// Touching a page that is in use does not change it; a disabled warmer does
/// nothing.
class HeapWarmer {
public:
    explicit HeapWarmer(bool enabled);
    ~HeapWarmer();
    HeapWarmer(const HeapWarmer&) = delete;
    HeapWarmer& operator=(const HeapWarmer&) = delete;

    /// How far ahead of the latest allocation pages are touched, and how many
    /// bytes at a time.
    static constexpr std::uintptr_t Lead = 8 << 20;
    static constexpr std::uintptr_t Step = 1 << 20;

    /// The pages to touch next, [begin, end), given the end of the latest
    /// allocation, the top of the heap and how far touching has got (the
    /// frontier); empty when there is nothing to do.
    struct Range {
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
    };
    static Range NextRange(std::uintptr_t allocationEnd, std::uintptr_t heapTop,
                           std::uintptr_t frontier, std::uintptr_t pageSize);

private:
    void Run();

    bool enabled_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qiv::redact
