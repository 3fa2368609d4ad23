#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace qiv::redact {

/// A value as the audit of the output compares it: without leading and
/// trailing white space, every inner run of white space one space.
std::string_view NormalValue(std::string_view value, std::string& scratch);

/// The hashes of the values a run changed (the old ones), each with the
/// first expression that changed it, and of the values its rules wrote. Only
/// hashes are kept, never the values, so the set costs a few bytes per
/// distinct value however long they are.
class ChangedValues {
public:
    static constexpr std::uint32_t notFound = UINT32_MAX;

    /// Notes that expression changed old into now. Values that read the same
    /// afterwards, or that are empty or all blanks, are not noted.
    void Add(std::string_view old, std::string_view now, std::uint32_t expression);
    /// Takes in what other noted (batches of records, in input order).
    void Merge(const ChangedValues& other);
    void Clear();
    bool Empty() const { return changed_.size == 0; }

    /// The expression that changed value (already normal), or notFound; also
    /// notFound for a value some rule wrote (one value replaced by another
    /// that was also there). Cheap for most values that were not changed:
    /// their length and first bytes are tested before any hash is taken.
    /// hash, if given, gets the value's hash when it is found.
    std::uint32_t Find(std::string_view value, std::uint64_t* hash = nullptr) const;
    /// Whether some rule wrote value (already normal).
    bool Written(std::string_view value) const;
    /// Once every value is noted: builds a filter small enough to stay in
    /// the processor's cache, which Find asks before the large table.
    void Seal();

private:
    // Hashes with a number each, in one open-addressing table.
    struct Table {
        std::vector<std::uint64_t> hashes;  // 0: an empty slot
        std::vector<std::uint32_t> numbers;
        std::size_t size = 0;

        void Insert(std::uint64_t hash, std::uint32_t number);  // keeps the lower number
        std::uint32_t Find(std::uint64_t hash) const;
        void Merge(const Table& other);
        void Clear();
        std::size_t Slot(std::uint64_t hash) const;
        void Grow();
    };

    Table changed_;
    Table written_;
    std::vector<std::uint64_t> filter_;      // two bits of one word per changed value
    std::string oldScratch_, nowScratch_;    // kept from value to value: no allocation each
    std::uint64_t lengths_ = 0;              // bit n: a value of n bytes (63: 63 or more)
    std::vector<std::uint64_t> heads_ = {};  // a bit per value's first two bytes
};

/// The element structure of a document, as a hash of the sequence of its
/// elements' starts (with their names) and ends, which gives every name's
/// depth. Sequences hashed in parts combine in order with Append.
class ElementShape {
public:
    void Open(std::string_view name);
    void Close();
    void Append(const ElementShape& after);
    bool operator==(const ElementShape& other) const {
        return hash_ == other.hash_ && scale_ == other.scale_ && count_ == other.count_;
    }
    bool operator!=(const ElementShape& other) const { return !(*this == other); }
    /// Starts and ends taken in.
    std::uint64_t Count() const { return count_; }

private:
    void Add(std::uint64_t item);

    std::uint64_t hash_ = 0;
    std::uint64_t scale_ = 1;  // the multiplier to the power of count_
    std::uint64_t count_ = 0;
};

/// The shape of element and every element inside it.
void AddElementShape(const pugi::xml_node& element, ElementShape& shape);

/// What a run gathers for the audit of its output: the values it changed and
/// the element structure it wrote.
struct AuditTrail {
    ChangedValues changed;
    ElementShape shape;
};

}  // namespace qiv::redact
