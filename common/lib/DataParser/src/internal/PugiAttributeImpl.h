#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "PugiAttribute.h"
#include "WrapperAllocator.h"

namespace qiv {

class ORN_DATAPARSER_LOCAL PugiAttribute::Impl final {
public:
    explicit Impl(pugi::xml_attribute attribute) : attribute_(attribute) {}
    virtual ~Impl() = default;

    // Allocated with every wrapper; see WrapperAllocator.
    static void* operator new(std::size_t size) {
        return detail::WrapperAllocator::Allocate(size);
    }
    static void operator delete(void* block, std::size_t size) noexcept {
        detail::WrapperAllocator::Deallocate(block, size);
    }

    const pugi::xml_attribute& GetRawAttributeRef() const { return attribute_; }

    /// The handle held by a caller's wrapper, or null when the pointer is
    /// empty or holds an Attribute of another implementation.
    static const pugi::xml_attribute* RawAttributeOf(const std::unique_ptr<Attribute>& attribute) {
        const auto* wrapper = dynamic_cast<const PugiAttribute*>(attribute.get());
        return wrapper != nullptr ? &wrapper->impl_->attribute_ : nullptr;
    }

    std::string_view DoName() const;
    std::string DoToString(std::string_view defaultValue) const;
    int DoToInt(int defaultValue) const { return attribute_.as_int(defaultValue); }
    unsigned int DoToUnsignedInt(unsigned int defaultValue) const {
        return attribute_.as_uint(defaultValue);
    }
    double DoToDouble(double defaultValue) const { return attribute_.as_double(defaultValue); }
    float DoToFloat(float defaultValue) const { return attribute_.as_float(defaultValue); }
    bool DoToBool(bool defaultValue) const { return attribute_.as_bool(defaultValue); }
    bool DoInvalid() const { return attribute_.empty(); }
    std::unique_ptr<Attribute> DoNextAttribute() const;
    std::unique_ptr<Attribute> DoPreviousAttribute() const;
    bool DoSetValue(const DataValue& value);

private:
    pugi::xml_attribute attribute_;
};

}  // namespace qiv
