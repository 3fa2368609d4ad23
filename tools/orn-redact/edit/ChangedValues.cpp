#include "ChangedValues.h"

#include <algorithm>
#include <cstring>

#include "Characters.h"

namespace qiv::redact {

namespace {

// A hash of bytes, eight at a time: values and names are short, and a hash
// is taken of every element name and of every word the audit looks up. The
// loads have fixed sizes, so that none becomes a call.
std::uint64_t BytesHash(std::string_view bytes) {
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    std::uint64_t hash = size * multiplier;
    const auto mix = [&hash](std::uint64_t word) {
        hash = (hash ^ word) * multiplier;
        hash ^= hash >> 32;
    };
    if (size >= 8) {
        std::size_t at = 0;
        for (; at + 8 <= size; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, data + at, 8);
            mix(word);
        }
        if (at < size) {
            std::uint64_t word;  // the last eight bytes, overlapping the ones before
            std::memcpy(&word, data + size - 8, 8);
            mix(word);
        }
    } else {
        std::uint64_t word = 0;
        for (std::size_t at = 0; at < size; ++at) {
            word |= std::uint64_t{static_cast<unsigned char>(data[at])} << (8 * at);
        }
        mix(word);
    }
    hash *= 0xC2B2AE3D27D4EB4Full;
    return hash ^ hash >> 29;
}

// The two bits of a filter word that stand for a hash.
std::uint64_t FilterBits(std::uint64_t hash) {
    return std::uint64_t{1} << (hash >> 52 & 63) | std::uint64_t{1} << (hash >> 58 & 63);
}

std::uint64_t HashOf(std::string_view value) {
    const std::uint64_t hash = BytesHash(value);
    return hash == 0 ? 1 : hash;  // 0 marks an empty slot
}

std::size_t LengthBit(std::size_t length) { return std::min<std::size_t>(length, 63); }

// The first two bytes of a value (a one-byte value pairs with 0).
std::size_t HeadOf(std::string_view value) {
    const auto first = static_cast<unsigned char>(value[0]);
    const auto second = value.size() > 1 ? static_cast<unsigned char>(value[1]) : 0u;
    return first << 8 | second;
}

}  // namespace

std::string_view NormalValue(std::string_view value, std::string& scratch) {
    const auto [begin, end] = TrimBlanks(value);
    value = value.substr(begin, end - begin);
    bool plain = true;
    for (std::size_t at = 0; at < value.size() && plain; ++at) {
        plain = !IsBlank(value[at]) || (value[at] == ' ' && !IsBlank(value[at + 1]));
    }
    if (plain) {
        return value;
    }
    scratch.clear();
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (!IsBlank(value[at])) {
            scratch += value[at];
        } else if (!IsBlank(value[at + 1])) {
            scratch += ' ';
        }
    }
    return scratch;
}

void ChangedValues::Add(std::string_view old, std::string_view now, std::uint32_t expression) {
    const std::string_view value = NormalValue(old, oldScratch_);
    const std::string_view written = NormalValue(now, nowScratch_);
    if (value.empty() || value == written) {
        return;
    }
    if (heads_.empty()) {
        heads_.assign((1u << 16) / 64, 0);
    }
    lengths_ |= std::uint64_t{1} << LengthBit(value.size());
    const std::size_t head = HeadOf(value);
    heads_[head / 64] |= std::uint64_t{1} << (head % 64);
    changed_.Insert(HashOf(value), expression);
    filter_.clear();
    if (!written.empty()) {
        written_.Insert(HashOf(written), expression);
    }
}

void ChangedValues::Merge(const ChangedValues& other) {
    if (other.changed_.size == 0) {
        return;
    }
    if (heads_.empty()) {
        heads_.assign((1u << 16) / 64, 0);
    }
    lengths_ |= other.lengths_;
    for (std::size_t at = 0; at < heads_.size(); ++at) {
        heads_[at] |= other.heads_[at];
    }
    changed_.Merge(other.changed_);
    written_.Merge(other.written_);
    filter_.clear();  // sealed again once every value is in
}

void ChangedValues::Clear() {
    if (changed_.size == 0) {
        return;
    }
    changed_.Clear();
    written_.Clear();
    filter_.clear();
    std::fill(heads_.begin(), heads_.end(), 0);
    lengths_ = 0;
}

std::uint32_t ChangedValues::Find(std::string_view value, std::uint64_t* hash) const {
    if (changed_.size == 0 || value.empty() || (lengths_ >> LengthBit(value.size()) & 1) == 0) {
        return notFound;
    }
    const std::size_t head = HeadOf(value);
    if ((heads_[head / 64] >> (head % 64) & 1) == 0) {
        return notFound;
    }
    const std::uint64_t key = HashOf(value);
    if (!filter_.empty()) {
        const std::uint64_t bits = FilterBits(key);
        if ((filter_[(key >> 12) & (filter_.size() - 1)] & bits) != bits) {
            return notFound;
        }
    }
    const std::uint32_t expression = changed_.Find(key);
    if (expression == notFound || written_.Find(key) != notFound) {
        return notFound;
    }
    if (hash != nullptr) {
        *hash = key;
    }
    return expression;
}

void ChangedValues::Seal() {
    // About sixteen bits per value: one value in a hundred or so that was
    // not changed gets past it.
    std::size_t words = 1;
    while (words * 64 < 16 * changed_.size) {
        words *= 2;
    }
    filter_.assign(words, 0);
    for (const std::uint64_t hash : changed_.hashes) {
        if (hash != 0) {
            filter_[(hash >> 12) & (words - 1)] |= FilterBits(hash);
        }
    }
}

bool ChangedValues::Written(std::string_view value) const {
    return written_.size != 0 && !value.empty() && written_.Find(HashOf(value)) != notFound;
}

void ChangedValues::Table::Insert(std::uint64_t hash, std::uint32_t number) {
    if (2 * (size + 1) > hashes.size()) {
        Grow();
    }
    std::size_t slot = Slot(hash);
    while (hashes[slot] != 0) {
        if (hashes[slot] == hash) {
            numbers[slot] = std::min(numbers[slot], number);
            return;
        }
        slot = (slot + 1) & (hashes.size() - 1);
    }
    hashes[slot] = hash;
    numbers[slot] = number;
    ++size;
}

std::uint32_t ChangedValues::Table::Find(std::uint64_t hash) const {
    if (size == 0) {
        return notFound;
    }
    for (std::size_t slot = Slot(hash);; slot = (slot + 1) & (hashes.size() - 1)) {
        if (hashes[slot] == hash) {
            return numbers[slot];
        }
        if (hashes[slot] == 0) {
            return notFound;
        }
    }
}

void ChangedValues::Table::Merge(const Table& other) {
    if (other.size == 0) {
        return;
    }
    while (2 * (size + other.size) > hashes.size()) {
        Grow();
    }
    // Each insert lands in a far part of a large table: the slot of an entry
    // some entries ahead is fetched while this one goes in.
    constexpr std::size_t ahead = 8;
    const std::vector<std::uint64_t>& from = other.hashes;
    std::size_t next = 0;  // the slot of other's table fetched up to
    for (std::size_t slot = 0; slot < from.size(); ++slot) {
        for (; next < from.size() && next < slot + ahead; ++next) {
            if (from[next] != 0) {
                __builtin_prefetch(&hashes[Slot(from[next])], 1);
            }
        }
        if (from[slot] != 0) {
            Insert(from[slot], other.numbers[slot]);
        }
    }
}

void ChangedValues::Table::Clear() {
    if (size != 0) {
        std::fill(hashes.begin(), hashes.end(), 0);
        size = 0;
    }
}

std::size_t ChangedValues::Table::Slot(std::uint64_t hash) const {
    return static_cast<std::size_t>(hash * 0x9E3779B97F4A7C15ull >> 20) & (hashes.size() - 1);
}

void ChangedValues::Table::Grow() {
    std::vector<std::uint64_t> old(std::max<std::size_t>(64, 2 * hashes.size()), 0);
    std::vector<std::uint32_t> oldNumbers(old.size(), 0);
    old.swap(hashes);
    oldNumbers.swap(numbers);
    size = 0;
    for (std::size_t slot = 0; slot < old.size(); ++slot) {
        if (old[slot] != 0) {
            Insert(old[slot], oldNumbers[slot]);
        }
    }
}

namespace {

constexpr std::uint64_t shapeMultiplier = 0x100000001B3ull * 0x9E3779B97F4A7C15ull | 1;

}  // namespace

void ElementShape::Open(std::string_view name) { Add(BytesHash(name) | 1); }

void ElementShape::Close() { Add(0); }

void ElementShape::Add(std::uint64_t item) {
    hash_ = hash_ * shapeMultiplier + item;
    scale_ *= shapeMultiplier;
    ++count_;
}

void ElementShape::Append(const ElementShape& after) {
    hash_ = hash_ * after.scale_ + after.hash_;
    scale_ *= after.scale_;
    count_ += after.count_;
}

void AddElementShape(const pugi::xml_node& element, ElementShape& shape) {
    // In document order, without recursion: documents may nest deeply.
    pugi::xml_node current = element;
    for (;;) {
        shape.Open(current.name());
        pugi::xml_node child = current.first_child();
        while (child && child.type() != pugi::node_element) {
            child = child.next_sibling();
        }
        if (child) {
            current = child;
            continue;
        }
        for (;;) {
            shape.Close();
            if (current == element) {
                return;
            }
            pugi::xml_node next = current.next_sibling();
            while (next && next.type() != pugi::node_element) {
                next = next.next_sibling();
            }
            if (next) {
                current = next;
                break;
            }
            current = current.parent();
        }
    }
}

}  // namespace qiv::redact
