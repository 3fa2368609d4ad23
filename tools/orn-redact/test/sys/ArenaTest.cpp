// The arena a parse tree lives in: alignment, growth past its first step,
// giving large blocks back, telling its blocks from others, and filling it
// again batch after batch.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Arena.h"

namespace {

using qiv::redact::ParseArena;

// Bytes of this process that are resident, from /proc/self/statm.
std::size_t Resident() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0, resident = 0;
    const bool read = statm != nullptr && std::fscanf(statm, "%lu %lu", &size, &resident) == 2;
    if (statm != nullptr) {
        std::fclose(statm);
    }
    return read ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// Null under AddressSanitizer, which must see every block on its own.
bool ArenaWorks() {
    ParseArena probe;
    return probe.Allocate(1) != nullptr;
}

TEST(ParseArena, BlocksAreAlignedWritableAndDisjoint) {
    if (!ArenaWorks()) {
        GTEST_SKIP() << "the arena hands everything to malloc in this build";
    }
    struct Case {
        const char* what;
        std::vector<std::size_t> sizes;
    };
    const Case cases[] = {
        {"odd sizes", {1, 3, 7, 15, 17, 33, 1000}},
        {"a document's bytes, then pages", {50 << 20, 32768, 32768, 40000, 8}},
        {"past one 64 MiB step", {60 << 20, 10 << 20, 1 << 20}},
        {"many pages", std::vector<std::size_t>(4000, 32768)},
        {"nothing", {0, 0, 16}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ParseArena arena;
        char* previousEnd = nullptr;
        for (const std::size_t size : test.sizes) {
            auto* block = static_cast<char*>(arena.Allocate(size));
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
            EXPECT_EQ(ParseArena::Containing(block), &arena);
            EXPECT_GE(block, previousEnd);  // no overlap with the block before
            if (size > 0) {
                std::memset(block, 0xA5, size);  // writable to its last byte
            }
            previousEnd = block + size;
        }
        EXPECT_GE(arena.Committed(), arena.Used());
    }
}

TEST(ParseArena, TellsItsBlocksFromOthersAndGivesSpaceBack) {
    if (!ArenaWorks()) {
        GTEST_SKIP() << "the arena hands everything to malloc in this build";
    }
    void* const fromMalloc = std::malloc(64);
    EXPECT_EQ(ParseArena::Containing(fromMalloc), nullptr);
    EXPECT_EQ(ParseArena::Containing(nullptr), nullptr);
    void* block = nullptr;
    {
        ParseArena first, second;
        block = first.Allocate(100);
        void* other = second.Allocate(100);
        EXPECT_EQ(ParseArena::Containing(block), &first);
        EXPECT_EQ(ParseArena::Containing(other), &second);
        EXPECT_EQ(ParseArena::Containing(fromMalloc), nullptr);
    }
    // Destroyed: its space is no arena's any more.
    EXPECT_EQ(ParseArena::Containing(block), nullptr);
    std::free(fromMalloc);
}

TEST(ParseArena, LargeBlocksGoBackWhenFreedAndAllWhenDestroyed) {
    if (!ArenaWorks()) {
        GTEST_SKIP() << "the arena hands everything to malloc in this build";
    }
    constexpr std::size_t large = 96 << 20;
    const std::size_t before = Resident();
    {
        ParseArena arena;
        void* big = arena.Allocate(large);
        ASSERT_NE(big, nullptr);
        std::memset(big, 1, large);
        EXPECT_GE(Resident(), before + large / 2);
        arena.Deallocate(big);
        EXPECT_LT(Resident(), before + large / 2);
        void* small = arena.Allocate(4096);  // a small block stays till the end
        std::memset(small, 1, 4096);
        arena.Deallocate(small);
        void* again = arena.Allocate(large);
        std::memset(again, 1, large);
        EXPECT_GE(Resident(), before + large / 2);
    }
    EXPECT_LT(Resident(), before + large / 2);
}

// A rewound arena hands out its space again from the start, on the pages it
// already has; beyond what an ordinary fill needs, they go back.
TEST(ParseArena, ARewoundArenaKeepsItsPagesUpToALimit) {
    if (!ArenaWorks()) {
        GTEST_SKIP() << "the arena hands everything to malloc in this build";
    }
    constexpr std::size_t batch = 8 << 20;
    constexpr std::size_t huge = 160 << 20;
    ParseArena arena(ParseArena::Use::Again);
    char* first = static_cast<char*>(arena.Allocate(batch));
    ASSERT_NE(first, nullptr);
    std::memset(first, 7, batch);
    arena.Deallocate(first);  // a large block, but its pages stay
    EXPECT_EQ(first[batch - 1], 7);
    arena.Rewind();
    EXPECT_EQ(arena.Used(), 0u);
    EXPECT_EQ(arena.Allocate(batch), first);
    arena.Deallocate(first);
    arena.Rewind();

    char* big = static_cast<char*>(arena.Allocate(huge));
    ASSERT_EQ(big, first);
    std::memset(big, 7, huge);
    const std::size_t full = Resident();
    arena.Deallocate(big);
    arena.Rewind();
    EXPECT_LT(Resident(), full - huge / 2);
    EXPECT_EQ(big[batch - 1], 7);  // the first pages are kept
}

}  // namespace
