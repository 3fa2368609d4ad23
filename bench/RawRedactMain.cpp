// The redaction job done with pugixml alone, as a yardstick for the library's
// command-line tool: orn-bench-raw-redact [-i FILE] [-o FILE] [--raw] XPATH...
// Loads with pugixml's default options, sets the text of every selected node
// to "redacted" and saves with TAB indentation (unformatted with --raw).

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <pugixml.hpp>

int main(int argc, char** argv) {
    std::string input;
    std::string output;
    unsigned int format = pugi::format_indent;
    std::vector<const char*> queries;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc) {
            input = argv[++i];
        } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (std::strcmp(argv[i], "--raw") == 0) {
            format = pugi::format_raw;
        } else {
            queries.push_back(argv[i]);
        }
    }
    if (queries.empty()) {
        std::cerr << "usage: orn-bench-raw-redact [-i FILE] [-o FILE] [--raw] XPATH...\n";
        return 2;
    }

    pugi::xml_document document;
    const pugi::xml_parse_result loaded =
        input.empty() ? document.load(std::cin) : document.load_file(input.c_str());
    if (!loaded) {
        std::cerr << "orn-bench-raw-redact: " << loaded.description() << "\n";
        return 1;
    }
    for (const char* query : queries) {
        try {
            for (const pugi::xpath_node& item : document.select_nodes(query)) {
                item.node().text().set("redacted");
            }
        } catch (const pugi::xpath_exception& error) {
            std::cerr << "orn-bench-raw-redact: " << error.what() << ": " << query << "\n";
            return 1;
        }
    }
    if (output.empty()) {
        document.save(std::cout, "\t", format);
        return std::cout.flush() ? 0 : 1;
    }
    return document.save_file(output.c_str(), "\t", format) ? 0 : 1;
}
