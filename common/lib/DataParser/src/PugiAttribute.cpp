#include "PugiAttribute.h"

#include "internal/PugiAttributeImpl.h"
#include "internal/TypeMaps.h"
#include "internal/ValueAccess.h"
#include "internal/WrapperAllocator.h"

namespace qiv {

std::string_view PugiAttribute::Impl::DoName() const { return detail::ViewOf(attribute_.name()); }

std::string PugiAttribute::Impl::DoToString(std::string_view defaultValue) const {
    return detail::ReadString(attribute_, defaultValue);
}

std::unique_ptr<Attribute> PugiAttribute::Impl::DoNextAttribute() const {
    return std::make_unique<PugiAttribute>(attribute_.next_attribute());
}

std::unique_ptr<Attribute> PugiAttribute::Impl::DoPreviousAttribute() const {
    return std::make_unique<PugiAttribute>(attribute_.previous_attribute());
}

bool PugiAttribute::Impl::DoSetValue(const DataValue& value) {
    return detail::WriteDataValue(value, [this](auto held) { return attribute_.set_value(held); });
}

PugiAttribute::PugiAttribute() : impl_(std::make_unique<Impl>(pugi::xml_attribute())) {}

PugiAttribute::PugiAttribute(pugi::xml_attribute&& attribute)
    : impl_(std::make_unique<Impl>(attribute)) {}

PugiAttribute::~PugiAttribute() = default;

void* PugiAttribute::operator new(std::size_t size) {
    // Larger objects would still work, but would bypass the cache.
    static_assert(sizeof(PugiAttribute) <= detail::WrapperAllocator::blockSize &&
                  sizeof(Impl) <= detail::WrapperAllocator::blockSize);
    return detail::WrapperAllocator::Allocate(size);
}

void* PugiAttribute::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return detail::WrapperAllocator::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void PugiAttribute::operator delete(void* block, std::size_t size) noexcept {
    detail::WrapperAllocator::Deallocate(block, size);
}

void PugiAttribute::operator delete(void* block, const std::nothrow_t&) noexcept {
    ::operator delete(block);
}

std::string_view PugiAttribute::DoName() const { return impl_->DoName(); }

std::string PugiAttribute::DoToString(std::string_view defaultValue) const {
    return impl_->DoToString(defaultValue);
}

int PugiAttribute::DoToInt(int defaultValue) const { return impl_->DoToInt(defaultValue); }

unsigned int PugiAttribute::DoToUnsignedInt(unsigned int defaultValue) const {
    return impl_->DoToUnsignedInt(defaultValue);
}

double PugiAttribute::DoToDouble(double defaultValue) const {
    return impl_->DoToDouble(defaultValue);
}

float PugiAttribute::DoToFloat(float defaultValue) const { return impl_->DoToFloat(defaultValue); }

bool PugiAttribute::DoToBool(bool defaultValue) const { return impl_->DoToBool(defaultValue); }

bool PugiAttribute::DoInvalid() const { return impl_->DoInvalid(); }

std::unique_ptr<Attribute> PugiAttribute::DoNextAttribute() const {
    return impl_->DoNextAttribute();
}

std::unique_ptr<Attribute> PugiAttribute::DoPreviousAttribute() const {
    return impl_->DoPreviousAttribute();
}

bool PugiAttribute::DoSetValue(DataValue value) { return impl_->DoSetValue(value); }

}  // namespace qiv
