#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "Attribute.h"
#include "DataParserExport.h"

namespace qiv {

/// Attribute over a pugixml attribute handle. The handle does not own the
/// attribute; destroying the wrapper never changes the document.
class ORN_DATAPARSER_API PugiAttribute : public Attribute {
public:
    /// An invalid wrapper (null handle).
    PugiAttribute();
    explicit PugiAttribute(pugi::xml_attribute&& attribute);
    ~PugiAttribute() override;

    PugiAttribute(const PugiAttribute&) = delete;
    PugiAttribute& operator=(const PugiAttribute&) = delete;

    // Wrappers are made and dropped at every navigation step; they come from a
    // small per-thread cache of blocks rather than the general allocator.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t, void* place) noexcept { return place; }
    static void operator delete(void* block, std::size_t size) noexcept;
    static void operator delete(void* block, const std::nothrow_t&) noexcept;
    static void operator delete(void*, void*) noexcept {}

private:
    std::string_view DoName() const override;
    std::string DoToString(std::string_view defaultValue) const override;
    int DoToInt(int defaultValue) const override;
    unsigned int DoToUnsignedInt(unsigned int defaultValue) const override;
    double DoToDouble(double defaultValue) const override;
    float DoToFloat(float defaultValue) const override;
    bool DoToBool(bool defaultValue) const override;
    bool DoInvalid() const override;
    std::unique_ptr<Attribute> DoNextAttribute() const override;
    std::unique_ptr<Attribute> DoPreviousAttribute() const override;
    bool DoSetValue(DataValue value) override;

    class Impl;
    std::unique_ptr<Impl> impl_;

    // The node and document implementations read the handle back out of a
    // wrapper that the caller passes as a position or as the thing to remove.
    friend class PugiNode;
    friend class PugiXMLParser;
};

}  // namespace qiv
