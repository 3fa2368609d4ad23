// Builds a small inventory document from nothing and saves it, indented with
// TABs, to FILE or to standard output.
//
//   orn-build-document [FILE]
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "DataParserIF.h"
#include "InterfaceFactory.h"

namespace {

// pugixml's format flag for one node per line, indented.
constexpr unsigned int formatIndent = 0x01;

// Creation returns null when nothing was made (a refused kind, a value that
// cannot be stored); this program treats that as a bug in itself.
template <typename T>
std::unique_ptr<T> Made(std::unique_ptr<T> created, std::string_view what) {
    if (!created) {
        throw std::runtime_error("could not create " + std::string(what));
    }
    return created;
}

void AddItem(qiv::Node& inventory, const char* id, std::string_view name, unsigned int quantity,
             double weight, bool active) {
    auto item = Made(inventory.AppendChild("item"), "item");
    Made(item->AppendAttribute("id", id), "id");
    Made(item->AppendAttribute("active", active), "active");
    Made(item->AppendChild("name", name), "name");
    Made(item->AppendChild("quantity", quantity), "quantity");
    Made(item->AppendChild("weight", weight), "weight");
}

std::unique_ptr<qiv::DataParserIF> BuildInventory() {
    auto document = qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");

    // <?xml version="1.0" encoding="UTF-8"?>: a declaration node takes attributes.
    auto declaration = Made(document->AppendChild(qiv::Node::TypeName::Declaration), "declaration");
    Made(declaration->AppendAttribute("version", "1.0"), "version");
    Made(declaration->AppendAttribute("encoding", "UTF-8"), "encoding");

    auto inventory = Made(document->AppendChild("inventory"), "inventory");
    auto warehouse = Made(inventory->AppendAttribute("warehouse", "north"), "warehouse");
    // Attributes can be placed relative to one another, as children can.
    Made(inventory->InsertAttributeBefore("revision", 3, warehouse), "revision");

    AddItem(*inventory, "A-100", "Bolt", 250u, 0.125, true);
    AddItem(*inventory, "A-200", "Hinge", 12u, 1.5, false);

    // Text that would need escaping goes into a CDATA section as it is.
    auto note = Made(inventory->AppendChild("note"), "note");
    Made(note->AppendChild(qiv::Node::TypeName::CData, "Prices exclude <VAT> & shipping"),
         "note text");

    // A summary element placed before the first item.
    auto firstItem = inventory->Child("item");
    Made(inventory->InsertChildBefore("total", 262, firstItem), "total");
    return document;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    constexpr const char* usage =
        "usage: orn-build-document [FILE]\n"
        "Builds an example inventory document and saves it to FILE,\n"
        "or to standard output when no FILE is given.\n";
    if (argc > 2) {
        std::cerr << usage;
        return 2;
    }
    if (first == "-h" || first == "--help") {
        std::cout << usage;
        return 0;
    }
    try {
        auto document = BuildInventory();
        if (argc == 1) {
            document->SaveToStream(std::cout, formatIndent);
            return std::cout ? 0 : 1;
        }
        if (!document->SaveFile(first, formatIndent)) {
            std::cerr << "orn-build-document: cannot write " << first << '\n';
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "orn-build-document: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
