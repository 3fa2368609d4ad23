#include "PugiAttribute.h"

#include "internal/PugiAttributeImpl.h"
#include "internal/TypeMaps.h"
#include "internal/ValueAccess.h"
#include "internal/WrapperAllocator.h"

namespace qiv {

std::unique_ptr<PugiAttribute> PugiAttribute::Impl::Wrap(pugi::xml_attribute attribute) {
    constexpr std::size_t pairSize = sizeof(PugiAttribute) + sizeof(Impl);
    static_assert(pairSize <= detail::WrapperAllocator::blockSize &&
                  sizeof(PugiAttribute) % alignof(Impl) == 0);
    void* block = detail::WrapperAllocator::Allocate(pairSize);
    // The constructor cannot throw: a handle copy only.
    Impl* impl = ::new (static_cast<char*>(block) + sizeof(PugiAttribute)) Impl(attribute);
    impl->paired_ = true;
    return std::unique_ptr<PugiAttribute>(::new (block) PugiAttribute(impl));
}

std::string_view PugiAttribute::Impl::DoName() const { return detail::ViewOf(attribute_.name()); }

std::string PugiAttribute::Impl::DoToString(std::string_view defaultValue) const {
    return detail::ReadString(attribute_, defaultValue);
}

std::unique_ptr<Attribute> PugiAttribute::Impl::DoNextAttribute() const {
    return Wrap(attribute_.next_attribute());
}

std::unique_ptr<Attribute> PugiAttribute::Impl::DoPreviousAttribute() const {
    return Wrap(attribute_.previous_attribute());
}

bool PugiAttribute::Impl::DoSetValue(const DataValue& value) {
    return detail::WriteDataValue(value, [this](auto held) { return attribute_.set_value(held); });
}

PugiAttribute::PugiAttribute() : impl_(std::make_unique<Impl>(pugi::xml_attribute())) {}

PugiAttribute::PugiAttribute(pugi::xml_attribute&& attribute)
    : impl_(std::make_unique<Impl>(attribute)) {}

PugiAttribute::PugiAttribute(Impl* paired) noexcept : impl_(paired) {}

PugiAttribute::~PugiAttribute() {
    // A paired implementation object goes with the wrapper's block, which the
    // class's operator delete releases after this destructor.
    if (impl_ != nullptr && impl_->Paired()) {
        impl_.release()->~Impl();
    }
}

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
