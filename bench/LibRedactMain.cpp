// The redaction job done through the library with nothing around it:
// orn-bench-lib-redact [-i FILE] [-o FILE] [--raw] XPATH...
// Same command line and output as orn-bench-raw-redact, so that the two can
// be timed against each other (compare-redact.sh: ORN_REDACT=this program).

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "DataParserIF.h"

int main(int argc, char** argv) {
    std::string input;
    std::string output;
    unsigned int format = 0x01;  // indent
    std::vector<std::string> queries;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc) {
            input = argv[++i];
        } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (std::strcmp(argv[i], "--raw") == 0) {
            format = 0x04;
        } else {
            queries.emplace_back(argv[i]);
        }
    }
    if (queries.empty()) {
        std::cerr << "usage: orn-bench-lib-redact [-i FILE] [-o FILE] [--raw] XPATH...\n";
        return 2;
    }

    auto parser = qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
    // The file load announces itself on standard output; keep that off the
    // document when it goes to standard output.
    std::streambuf* console = std::cout.rdbuf(output.empty() ? std::cerr.rdbuf() : nullptr);
    const qiv::LoadResult loaded =
        input.empty() ? parser->LoadStream(std::cin) : parser->LoadFile(input);
    std::cout.rdbuf(console);
    std::cout.clear();
    if (loaded.second != qiv::DataParserStatus::Ok) {
        std::cerr << "orn-bench-lib-redact: " << loaded.first << "\n";
        return 1;
    }
    parser->RedactNodes(queries);
    if (output.empty()) {
        parser->SaveToStream(std::cout, format);
        return std::cout.flush() ? 0 : 1;
    }
    return parser->SaveFile(output, format) ? 0 : 1;
}
