#include "PugiXPathNode.h"

#include "PugiAttribute.h"
#include "PugiNode.h"
#include "internal/TypeMaps.h"

namespace qiv {

class ORN_DATAPARSER_LOCAL PugiXPathNode::Impl {
public:
    explicit Impl(pugi::xpath_node&& node) : node_(node) {}
    explicit Impl(const pugi::xpath_node& node) : node_(node) {}

    std::unique_ptr<Node> DoGetNode() const {
        std::unique_ptr<Node> wrapper = std::make_unique<PugiNode>(node_.node());
        if (wrapper->Invalid()) {
            return nullptr;
        }
        return wrapper;
    }

    std::unique_ptr<Attribute> DoGetAttribute() const {
        std::unique_ptr<Attribute> wrapper = std::make_unique<PugiAttribute>(node_.attribute());
        if (wrapper->Invalid()) {
            return nullptr;
        }
        return wrapper;
    }

    std::unique_ptr<Node> DoParent() const { return std::make_unique<PugiNode>(node_.parent()); }

private:
    pugi::xpath_node node_;
};

PugiXPathNode::PugiXPathNode() : impl_(std::make_unique<Impl>(pugi::xpath_node())) {}

PugiXPathNode::PugiXPathNode(pugi::xpath_node&& node)
    : impl_(std::make_unique<Impl>(std::move(node))) {}

PugiXPathNode::PugiXPathNode(const pugi::xpath_node& node) : impl_(std::make_unique<Impl>(node)) {}

PugiXPathNode::~PugiXPathNode() = default;

std::unique_ptr<Node> PugiXPathNode::DoGetNode() const { return impl_->DoGetNode(); }

std::unique_ptr<Attribute> PugiXPathNode::DoGetAttribute() const { return impl_->DoGetAttribute(); }

std::unique_ptr<Node> PugiXPathNode::DoParent() const { return impl_->DoParent(); }

}  // namespace qiv
