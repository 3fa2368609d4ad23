// Prints the outline of an XML document: one line per element with its
// attributes, and the text of elements that hold some.
//
//   orn-outline FILE
#include <iostream>
#include <memory>
#include <string>

#include "DataParserIF.h"
#include "InterfaceFactory.h"

namespace {

void PrintElement(const qiv::Node& element, int depth) {
    std::string line(static_cast<std::size_t>(depth) * 2, ' ');
    line += element.Name();
    for (auto attribute = element.FirstAttribute(); !attribute->Invalid();
         attribute = attribute->NextAttribute()) {
        line += ' ';
        line += attribute->Name();
        line += "=\"" + attribute->ToString() + "\"";
    }
    const std::string text = element.ToString();
    if (!text.empty()) {
        line += ": " + text;
    }
    std::cout << line << '\n';

    for (auto child = element.FirstChild(); !child->Invalid(); child = child->NextSibling()) {
        if (child->Type() == qiv::Node::TypeName::Element) {
            PrintElement(*child, depth + 1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help") {
        std::cerr << "usage: orn-outline FILE\n"
                     "Prints one line per element of the XML document FILE.\n";
        return argc == 2 ? 0 : 2;
    }
    auto parser = qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
    const qiv::LoadResult result = parser->LoadFile(argv[1]);
    if (result.second != qiv::DataParserStatus::Ok) {
        std::cerr << "orn-outline: cannot load " << argv[1] << ": " << result.first << '\n';
        return 1;
    }
    for (auto node = parser->FirstChild(); !node->Invalid(); node = node->NextSibling()) {
        if (node->Type() == qiv::Node::TypeName::Element) {
            PrintElement(*node, 0);
        }
    }
    return 0;
}
