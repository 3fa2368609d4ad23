#include "Attribute.h"

namespace qiv {

Attribute::~Attribute() = default;

std::string_view Attribute::Name() const { return DoName(); }

bool Attribute::Invalid() const { return DoInvalid(); }

std::unique_ptr<Attribute> Attribute::NextAttribute() const { return DoNextAttribute(); }

std::unique_ptr<Attribute> Attribute::PreviousAttribute() const { return DoPreviousAttribute(); }

bool Attribute::SetValue(DataValue value) { return DoSetValue(value); }

}  // namespace qiv
