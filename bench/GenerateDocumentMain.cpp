// Writes a generated benchmark document: orn-bench-gen MEGABYTES [FILE]
// (standard output without FILE). MEGABYTES may be fractional.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "DocumentGenerator.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: orn-bench-gen MEGABYTES [FILE]\n";
        return 2;
    }
    char* end = nullptr;
    const double megabytes = std::strtod(argv[1], &end);
    if (end == argv[1] || *end != '\0' || !(megabytes > 0)) {
        std::cerr << "orn-bench-gen: not a positive size: " << argv[1] << "\n";
        return 2;
    }
    const std::string document =
        qiv::bench::GenerateDocument(static_cast<std::size_t>(megabytes * 1024 * 1024));
    if (argc == 3) {
        std::ofstream file(argv[2], std::ios::binary);
        file << document;
        if (!file.flush()) {
            std::cerr << "orn-bench-gen: cannot write " << argv[2] << "\n";
            return 1;
        }
    } else {
        std::cout << document;
    }
    std::cerr << qiv::bench::CountRecords(document) << " records, " << document.size()
              << " bytes\n";
    return 0;
}
