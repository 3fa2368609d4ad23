#pragma once

#include <streambuf>
#include <string>

#include <pugixml.hpp>

#include "DataParserIF.h"
#include "PugiAttribute.h"
#include "PugiNode.h"
#include "PugiXMLParser.h"
#include "PugiXPathNodeSet.h"

/// The tool's one seam to pugixml and to the library's XML classes. What the
/// tool relies on beyond the format-neutral interface:
/// - a parser made as "XML" is a PugiXMLParser, whose SelectNodes gives
///   pugixml's node set, so that items are pugi::xml_node and
///   pugi::xml_attribute;
/// - the library parses with pugixml's default options (comments, PIs and
///   the DOCTYPE are not kept), so a failure's offset is found by parsing the
///   same bytes again with those options (FailureOffset);
/// - xml_node::offset_debug() and an attribute's value pointer place items in
///   the parsed buffer, which is the input's bytes unless pugixml converted
///   its encoding (ConvertedEncoding);
/// - pugixml's attribute axis leaves out namespace declarations (xmlns and
///   xmlns:PREFIX), so no expression selects them and they are never changed;
/// - PugiNode and PugiAttribute set values as the library's redaction does.

namespace qiv::redact {

/// The parser's document node, as pugixml's item; a null item for a parser
/// other than the XML one.
pugi::xml_node DocumentNode(DataParserIF& parser);

/// The XML parser behind parser; null for any other.
inline PugiXMLParser* XmlParserOf(DataParserIF& parser) {
    return dynamic_cast<PugiXMLParser*>(&parser);
}

/// A read-only, seekable stream buffer over text, so that the parser can load
/// kept bytes without a copy of them.
class TextBuffer : public std::streambuf {
public:
    explicit TextBuffer(std::string& text) {
        setg(text.data(), text.data(), text.data() + text.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode /*which*/) override {
        char* const target = (direction == std::ios_base::beg   ? eback()
                              : direction == std::ios_base::cur ? gptr()
                                                                : egptr()) +
                             offset;
        if (target < eback() || target > egptr()) {
            return pos_type(off_type(-1));
        }
        setg(eback(), target, egptr());
        return pos_type(target - eback());
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

}  // namespace qiv::redact
