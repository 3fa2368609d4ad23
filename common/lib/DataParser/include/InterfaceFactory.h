#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "DataParserExport.h"

namespace qiv {

/// Registry of implementations of the interface T, by name, per list of
/// constructor argument types.
template <typename T>
class ORN_DATAPARSER_API IF {
public:
    template <typename... Args>
    static std::unordered_map<std::string_view, std::function<std::unique_ptr<T>(Args...)>>
        ifConstructors;
};

/// Builds a T from the given arguments; stored in the registries.
template <typename T, typename... Args>
std::unique_ptr<T> IFConstructor(Args... args) {
    return std::make_unique<T>(std::move(args)...);
}

class InterfaceFactory {
public:
    /// Creates the implementation registered under name, or the "DefaultIF"
    /// one when the name is not registered. Never returns null.
    template <typename T>
    static std::unique_ptr<T> Create(std::string_view name) {
        const auto& constructors = IF<T>::template ifConstructors<>;
        auto found = constructors.find(name);
        if (found == constructors.end()) {
            found = constructors.find("DefaultIF");
            if (found == constructors.end()) {
                // Same text on every standard library.
                throw std::out_of_range("_Map_base::at");
            }
        }
        return found->second();  // std::bad_function_call for an empty entry
    }
};

}  // namespace qiv
