#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "DataParserExport.h"
#include "DataParserTypes.h"

namespace qiv {

/// One attribute of a node. Wrappers refer into the parser's document and
/// never own it; they stay usable while the attribute exists.
class ORN_DATAPARSER_API Attribute {
public:
    virtual ~Attribute();

    std::string_view Name() const;
    /// True when the wrapper refers to no attribute.
    bool Invalid() const;
    /// Never null: past the last attribute the result is an invalid wrapper.
    std::unique_ptr<Attribute> NextAttribute() const;
    std::unique_ptr<Attribute> PreviousAttribute() const;
    /// Writes the value; false when nothing was stored.
    bool SetValue(DataValue value);

    /// Readers return the default when there is no value to convert.
    std::string ToString(std::string_view defaultValue = "") const {
        return DoToString(defaultValue);
    }
    int ToInt(int defaultValue = 0) const { return DoToInt(defaultValue); }
    unsigned int ToUnsignedInt(unsigned int defaultValue = 0) const {
        return DoToUnsignedInt(defaultValue);
    }
    double ToDouble(double defaultValue = 0.0) const { return DoToDouble(defaultValue); }
    float ToFloat(float defaultValue = 0.0f) const { return DoToFloat(defaultValue); }
    bool ToBool(bool defaultValue = false) const { return DoToBool(defaultValue); }

private:
    virtual std::string_view DoName() const = 0;
    virtual std::string DoToString(std::string_view defaultValue) const = 0;
    virtual int DoToInt(int defaultValue) const = 0;
    virtual unsigned int DoToUnsignedInt(unsigned int defaultValue) const = 0;
    virtual double DoToDouble(double defaultValue) const = 0;
    virtual float DoToFloat(float defaultValue) const = 0;
    virtual bool DoToBool(bool defaultValue) const = 0;
    virtual bool DoInvalid() const = 0;
    virtual std::unique_ptr<Attribute> DoNextAttribute() const = 0;
    virtual std::unique_ptr<Attribute> DoPreviousAttribute() const = 0;
    virtual bool DoSetValue(DataValue value) = 0;
};

}  // namespace qiv
