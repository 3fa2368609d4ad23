#include "Seam.h"

#include <memory>

namespace qiv::redact {

pugi::xml_node DocumentNode(DataParserIF& parser) {
    PugiXMLParser* xmlParser = XmlParserOf(parser);
    const std::unique_ptr<PugiXPathNodeSet> set =
        xmlParser != nullptr ? xmlParser->SelectNodes("/") : nullptr;
    return set && set->Size() == 1 ? set->Begin()->node() : pugi::xml_node();
}

}  // namespace qiv::redact
