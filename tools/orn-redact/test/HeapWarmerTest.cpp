// Touching the heap ahead of the parser: which pages come next, and a document
// loaded with a warmer running is the same document.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DataParserIF.h"
#include "DocumentInput.h"
#include "HeapWarmer.h"
#include "InterfaceFactory.h"
#include "TestSupport.h"

namespace {

using qiv::redact::HeapWarmer;

TEST(HeapWarmer, NextRangeFollowsTheLatestAllocation) {
    constexpr std::uintptr_t page = 4096, lead = HeapWarmer::Lead, step = HeapWarmer::Step;
    constexpr std::uintptr_t heap = 0x10000000, top = heap + 3 * lead;
    struct Case {
        const char* what;
        std::uintptr_t allocationEnd, heapTop, frontier, begin, end;
    };
    const Case cases[] = {
        {"nothing allocated yet", 0, top, 0, 0, 0},
        {"allocation outside the heap", top + page, top, 0, 0, 0},
        {"first step, from the page after the allocation", heap + 10, top, 0, heap + page,
         heap + page + step},
        {"allocation ends on a page boundary", heap + page, top, 0, heap + page,
         heap + page + step},
        {"goes on from the frontier", heap + 10, top, heap + page + step, heap + page + step,
         heap + page + 2 * step},
        {"stops one lead ahead", heap + 10, top, heap + page + lead, 0, 0},
        {"stops at the top of the heap", heap + 10, heap + 3 * page, heap + page, heap + page,
         heap + 3 * page},
        {"allocation at the top, nothing beyond", heap + 3 * page, heap + 3 * page, 0, 0, 0},
        {"restarts when the allocation moved down", heap + 10, top, heap + 2 * lead, heap + page,
         heap + page + step},
        {"frontier overtaken by the allocation", heap + 5 * step + 1, top, heap + step,
         heap + 5 * step + page, heap + 6 * step + page},
    };
    for (const Case& c : cases) {
        const HeapWarmer::Range range =
            HeapWarmer::NextRange(c.allocationEnd, c.heapTop, c.frontier, page);
        EXPECT_EQ(range.begin, c.begin) << c.what;
        EXPECT_EQ(range.end, c.end) << c.what;
        EXPECT_LE(range.end - range.begin, step) << c.what;
    }
}

// A document large enough for the warmer, loaded with and without it.
TEST(HeapWarmer, LoadedDocumentIsTheSame) {
    qiv::redact::TrackParserAllocations();
    const qiv::test::TempDir folder;
    const std::string path = (folder.Path() / "large.xml").string();
    {
        std::ofstream file(path, std::ios::binary);
        file << "<r>\n";
        for (int n = 0; n < 60000; ++n) {
            file << "  <c id='" << n << "'><email>user" << n
                 << "@example.org</email><notes>text <b>bold</b> more</notes></c>\n";
        }
        file << "</r>\n";
    }
    ASSERT_GT(std::filesystem::file_size(path), 4u << 20);

    std::string saved[2];
    for (const bool warm : {false, true}) {
        std::unique_ptr<qiv::DataParserIF> parser =
            qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
        qiv::redact::InputDocument input;
        input.path = path;
        input.warmHeap = warm;
        std::string error;
        ASSERT_TRUE(qiv::redact::LoadDocument(*parser, input, error)) << error;
        std::ostringstream out;
        parser->SaveToStream(out, 0);
        saved[warm] = out.str();
    }
    EXPECT_GT(saved[0].size(), 4u << 20);
    EXPECT_EQ(saved[0], saved[1]);
}

}  // namespace
