#include "DocumentGenerator.h"

#include <array>
#include <string_view>

namespace qiv::bench {
namespace {

// Small linear congruential generator: unlike the standard distributions, its
// sequence is the same with every standard library.
class Random {
  public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    std::uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }
    template <typename T, std::size_t N>
    const T& Pick(const std::array<T, N>& items) {
        return items[Below(N)];
    }

  private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 16> firstNames = {
    "Anna", "Bernd", "Clara", "David", "Emma", "Farid", "Greta", "Hugo",
    "Ilse", "Jonas", "Karla", "Lukas", "Mona", "Nils",  "Olga",  "Pavel"};
constexpr std::array<std::string_view, 16> lastNames = {
    "Berg",    "Schmidt", "Novak", "Larsen", "Moreau", "Rossi",    "Kowalski", "Jensen",
    "Fischer", "Weber",   "Meyer", "Wagner", "Becker", "Hoffmann", "Klein",    "Wolf"};
constexpr std::array<std::string_view, 6> domains = {"example.org",      "example.com",
                                                     "mail.example.net", "post.example",
                                                     "corp.example",     "test.example"};
constexpr std::array<std::string_view, 10> streets = {
    "Elm Street",  "Main Road",   "Station Square", "Harbour Lane", "Mill Way",
    "Church Walk", "Park Avenue", "Bridge Street",  "Market Place", "Garden Row"};
constexpr std::array<std::string_view, 8> cities = {"Springfield", "Riverton", "Lakeside",
                                                    "Hillcrest",   "Fairview", "Oakdale",
                                                    "Brookfield",  "Westport"};
constexpr std::array<std::string_view, 4> countries = {"DE", "FR", "NO", "PL"};
constexpr std::array<std::string_view, 3> recordTypes = {"customer", "supplier", "employee"};
constexpr std::array<std::string_view, 6> topics = {
    "billing", "delivery", "a complaint", "the contract", "a refund", "an address change"};

void AppendNumber(std::string& out, std::uint32_t value, int digits) {
    char buffer[10];
    for (int i = digits - 1; i >= 0; --i) {
        buffer[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buffer, static_cast<std::size_t>(digits));
}

void AppendLower(std::string& out, std::string_view text) {
    for (char c : text) {
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

void AppendRecord(std::string& out, std::size_t index, Random& random) {
    const std::string_view first = random.Pick(firstNames);
    const std::string_view last = random.Pick(lastNames);
    const auto id = static_cast<std::uint32_t>(index + 1);

    out += "  <record id=\"";
    AppendNumber(out, id, 8);
    out += "\" type=\"";
    out += random.Pick(recordTypes);
    out += "\" active=\"";
    out += random.Below(4) != 0 ? "true" : "false";
    out += "\">\n    <name><first>";
    out += first;
    out += "</first><last>";
    out += last;
    out += "</last></name>\n    <email>";
    AppendLower(out, first);
    out += '.';
    AppendLower(out, last);
    AppendNumber(out, random.Below(1000), 3);
    out += '@';
    out += random.Pick(domains);
    out += "</email>\n    <idNumber>";
    AppendNumber(out, random.Below(1000), 3);
    out += '-';
    AppendNumber(out, random.Below(100), 2);
    out += '-';
    AppendNumber(out, random.Below(10000), 4);
    out += "</idNumber>\n    <address kind=\"";
    out += random.Below(3) != 0 ? "home" : "work";
    out += "\">\n      <street>";
    AppendNumber(out, 1 + random.Below(199), 3);
    out += ' ';
    out += random.Pick(streets);
    out += "</street>\n      <city>";
    out += random.Pick(cities);
    out += "</city>\n      <zip>";
    AppendNumber(out, random.Below(100000), 5);
    out += "</zip>\n      <country code=\"";
    out += random.Pick(countries);
    out += "\"/>\n    </address>\n    <balance currency=\"EUR\">";
    AppendNumber(out, random.Below(100000), 5);
    out += '.';
    AppendNumber(out, random.Below(100), 2);
    out += "</balance>\n    <notes>Called on <date>2024-";
    AppendNumber(out, 1 + random.Below(12), 2);
    out += '-';
    AppendNumber(out, 1 + random.Below(28), 2);
    out += "</date> about <b>";
    out += random.Pick(topics);
    out += "</b>; follow up &amp; confirm by mail.</notes>\n    <payload><![CDATA[<ref n=\"";
    AppendNumber(out, random.Below(1000000), 6);
    out += "\">a < b && c > d</ref>]]></payload>\n";
    if (index % 4 == 0) {
        out += "    <!-- reviewed in batch ";
        AppendNumber(out, static_cast<std::uint32_t>(index / 4), 6);
        out += " -->\n";
    }
    out += "  </record>\n";
}

}  // namespace

std::string GenerateDocument(std::size_t targetBytes, std::uint32_t seed) {
    static constexpr std::string_view head =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- generated benchmark data, deterministic -->\n"
        "<records version=\"1\" source=\"generator\">\n";
    static constexpr std::string_view tail = "</records>\n";

    Random random(seed);
    std::string out;
    out.reserve(targetBytes + 1024);
    out += head;
    std::size_t index = 0;
    // At least one record, then records until the target size is reached.
    do {
        AppendRecord(out, index++, random);
    } while (out.size() + tail.size() < targetBytes);
    out += tail;
    return out;
}

std::size_t CountRecords(const std::string& document) {
    std::size_t count = 0;
    for (std::size_t at = document.find("<record "); at != std::string::npos;
         at = document.find("<record ", at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace qiv::bench
