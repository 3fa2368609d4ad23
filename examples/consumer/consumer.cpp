// A client of the installed library: creates the XML parser by name, loads a
// customer register, adds a customer, selects nodes with XPath, redacts the
// personal data, saves the result and reads it back to check it.
//
//   orn-consumer INPUT OUTPUT
//
// Prints what it did and "consumer: ok" at the end; exits with 1 when a step
// does not give the expected result.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <orn/DataParserIF.h>
#include <orn/InterfaceFactory.h>
#include <orn/LogClient.h>
#include <orn/PugiXMLParser.h>
#include <orn/PugiXPathNode.h>
#include <orn/PugiXPathNodeSet.h>

namespace {

int failures = 0;

void Expect(bool condition, const std::string& what) {
    if (!condition) {
        std::cout << "FAILED: " << what << '\n';
        ++failures;
    }
}

// Texts of the nodes that the XPath expression selects, space-separated.
std::string SelectedTexts(qiv::PugiXMLParser& parser, const std::string& xpath) {
    std::string texts;
    const std::unique_ptr<qiv::PugiXPathNodeSet> selected = parser.SelectNodes(xpath);
    if (!selected) {
        return "<error>";
    }
    for (auto item = selected->Begin(); item != selected->End(); ++item) {
        const qiv::PugiXPathNode wrapped(*item);
        const std::unique_ptr<qiv::Node> node = wrapped.GetNode();
        texts += (texts.empty() ? "" : " ") + (node ? node->ToString() : "<attribute>");
    }
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: orn-consumer INPUT OUTPUT\n";
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];

    // Diagnostics of the library arrive here instead of on standard error.
    std::vector<qiv::LogRecord> records;
    qiv::LogClient::SetSink(
        [&records](const qiv::LogRecord& record) { records.push_back(record); });

    std::unique_ptr<qiv::DataParserIF> parser =
        qiv::InterfaceFactory::Create<qiv::DataParserIF>("XML");
    const qiv::LoadResult loaded = parser->LoadFile(input);
    std::cout << "load: " << loaded.first << '\n';
    Expect(loaded.second == qiv::DataParserStatus::Ok, "document loads");

    // Edit: one attribute changed, one customer added.
    std::unique_ptr<qiv::Node> customers = parser->Child("customers");
    Expect(!customers->Invalid(), "document element found");
    Expect(customers->GetAttribute("exported")->SetValue("2026-12-01"), "attribute written");
    std::unique_ptr<qiv::Node> added = customers->AppendChild("customer");
    Expect(added && added->AppendAttribute("id", "c-1004") != nullptr, "customer added");
    if (added) {
        added->AppendChild("name", "Dana Okafor");
        added->AppendChild("email", "dana.okafor@example.org");
        std::unique_ptr<qiv::Node> balance = added->AppendChild("balance", 42.5);
        Expect(balance && balance->AppendAttribute("currency", "EUR") != nullptr, "balance added");
    }

    // Select through the concrete parser, which hands out pugixml's node set.
    auto* xml = dynamic_cast<qiv::PugiXMLParser*>(parser.get());
    Expect(xml != nullptr, "the \"XML\" parser is a PugiXMLParser");
    if (xml == nullptr) {
        return 1;
    }
    const std::unique_ptr<qiv::PugiXPathNodeSet> all = xml->SelectNodes("//customer");
    std::cout << "customers: " << (all ? all->Size() : 0) << '\n';
    Expect(all && all->Size() == 4, "four customers selected");
    std::cout << "emails: " << SelectedTexts(*xml, "//email") << '\n';

    // Redact; the broken expression is logged and skipped.
    parser->RedactNodes({"//email", "//identityNumber", "//customer["});
    Expect(!records.empty() && records.front().level == qiv::LogLevel::Error,
           "failing XPath expression logged");
    std::cout << "log records: " << records.size() << '\n';

    Expect(parser->SaveFile(output, 1), "document saved");
    parser.reset();

    // Read the result back with a parser built by the registered constructor.
    std::unique_ptr<qiv::PugiXMLParser> check = qiv::IFConstructor<qiv::PugiXMLParser>();
    Expect(check->LoadFile(output).second == qiv::DataParserStatus::Ok, "saved file loads");
    const std::string emails = SelectedTexts(*check, "//email");
    std::cout << "emails after redaction: " << emails << '\n';
    Expect(emails == "redacted redacted redacted redacted", "every email redacted");
    Expect(SelectedTexts(*check, "//identityNumber") == "redacted redacted redacted",
           "every identity number redacted");
    const std::unique_ptr<qiv::PugiXPathNodeSet> last =
        check->SelectNodes("//customer[@id='c-1004']/balance");
    const std::unique_ptr<qiv::Node> balance =
        last && !last->Empty() ? last->First()->GetNode() : nullptr;
    Expect(balance && balance->ToDouble() == 42.5, "added balance read back");
    Expect(check->Child("customers")->GetAttribute("exported")->ToString() == "2026-12-01",
           "changed attribute read back");

    qiv::LogClient::SetSink(nullptr);
    if (failures != 0) {
        return 1;
    }
    std::cout << "consumer: ok\n";
    return 0;
}
