// Each operation through the library ("lib") and through pugixml alone
// ("pugi"), side by side in one program, on generated documents. After the
// usual output a table gives every library figure as a ratio to the pugixml
// figure of the same run (median CPU time per iteration).
//
//   orn_DataParser_bench [--doc_mb=1,50] [benchmark flags]
//
// --doc_mb lists the document sizes in megabytes (fractions allowed).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "DataParserIF.h"
#include "DocumentGenerator.h"
#include "PugiXMLParser.h"

namespace {

namespace fs = std::filesystem;

// The parse options of the library's string load (default plus comments),
// so that both sides build the same tree.
constexpr unsigned int stringParseOptions = pugi::parse_default | pugi::parse_comments;
constexpr unsigned int indentFormat = pugi::format_indent;

const std::vector<std::string> selectQueries = {
    "//email",
    "/records/record[@type='supplier']/address/city",
    "//record[balance > 50000]/idNumber",
    "//notes/b/text()",
};
const std::vector<std::string> redactQueries = {"//email", "//idNumber", "//address/street"};

/// Discards everything written to it; a stream over it measures serialisation only.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

/// Sends std::cout to nowhere while it lives (the library announces file loads).
class QuietStdout {
public:
    QuietStdout() : saved_(std::cout.rdbuf(&null_)) {}
    ~QuietStdout() { std::cout.rdbuf(saved_); }

private:
    NullBuffer null_;
    std::streambuf* saved_;
};

fs::path& TempDir() {
    static fs::path dir;
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "orn-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        dir = pattern;
    }
    return dir;
}

/// One generated document, its file and one loaded copy on each side.
struct Corpus {
    std::string text;
    std::string file;
    std::unique_ptr<qiv::PugiXMLParser> parser = std::make_unique<qiv::PugiXMLParser>();
    pugi::xml_document document;
};

Corpus& CorpusOf(double megabytes) {
    static std::map<double, std::unique_ptr<Corpus>> corpora;
    auto& slot = corpora[megabytes];
    if (!slot) {
        slot = std::make_unique<Corpus>();
        slot->text = qiv::bench::GenerateDocument(static_cast<std::size_t>(megabytes * 1048576));
        slot->file = (TempDir() / ("doc-" + std::to_string(slot->text.size()) + ".xml")).string();
        std::FILE* out = std::fopen(slot->file.c_str(), "wb");
        if (out == nullptr ||
            std::fwrite(slot->text.data(), 1, slot->text.size(), out) != slot->text.size() ||
            std::fclose(out) != 0) {
            std::perror(slot->file.c_str());
            std::exit(1);
        }
        slot->parser->LoadString(slot->text);
        slot->document.load_string(slot->text.c_str(), stringParseOptions);
    }
    return *slot;
}

void SetBytes(benchmark::State& state, const Corpus& corpus) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(corpus.text.size()));
}

// ---- Load and save ----

void LoadStringLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    qiv::PugiXMLParser parser;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser.LoadString(corpus.text));
    }
    SetBytes(state, corpus);
}

void LoadStringPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    pugi::xml_document document;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.load_string(corpus.text.c_str(), stringParseOptions));
    }
    SetBytes(state, corpus);
}

void LoadStreamLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    qiv::PugiXMLParser parser;
    std::istringstream stream(corpus.text);
    for (auto _ : state) {
        stream.clear();
        stream.seekg(0);
        benchmark::DoNotOptimize(parser.LoadStream(stream));
    }
    SetBytes(state, corpus);
}

void LoadStreamPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    pugi::xml_document document;
    std::istringstream stream(corpus.text);
    for (auto _ : state) {
        stream.clear();
        stream.seekg(0);
        benchmark::DoNotOptimize(document.load(stream));
    }
    SetBytes(state, corpus);
}

void LoadFileLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    qiv::PugiXMLParser parser;
    QuietStdout quiet;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser.LoadFile(corpus.file));
    }
    SetBytes(state, corpus);
}

void LoadFilePugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    pugi::xml_document document;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.load_file(corpus.file.c_str()));
    }
    SetBytes(state, corpus);
}

void SaveToStreamLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    NullBuffer null;
    std::ostream out(&null);
    for (auto _ : state) {
        corpus.parser->SaveToStream(out, indentFormat);
    }
    SetBytes(state, corpus);
}

void SaveToStreamPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    NullBuffer null;
    std::ostream out(&null);
    for (auto _ : state) {
        corpus.document.save(out, "\t", indentFormat);
    }
    SetBytes(state, corpus);
}

void SaveFileLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const std::string path = (TempDir() / "saved-lib.xml").string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(corpus.parser->SaveFile(path, indentFormat));
    }
    fs::remove(path);
    SetBytes(state, corpus);
}

void SaveFilePugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const std::string path = (TempDir() / "saved-pugi.xml").string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(corpus.document.save_file(path.c_str(), "\t", indentFormat));
    }
    fs::remove(path);
    SetBytes(state, corpus);
}

// ---- Full walk: every node and attribute, its name and (optionally) value ----

template <bool WithValues>
std::size_t WalkLib(const qiv::Node& node) {
    std::size_t sum = node.Name().size();
    if constexpr (WithValues) {
        sum += node.ToString().size();
    }
    for (auto attribute = node.FirstAttribute(); !attribute->Invalid();
         attribute = attribute->NextAttribute()) {
        sum += attribute->Name().size();
        if constexpr (WithValues) {
            sum += attribute->ToString().size();
        }
    }
    for (auto child = node.FirstChild(); !child->Invalid(); child = child->NextSibling()) {
        sum += WalkLib<WithValues>(*child);
    }
    return sum;
}

template <bool WithValues>
std::size_t WalkPugi(const pugi::xml_node& node) {
    std::size_t sum = std::strlen(node.name());
    if constexpr (WithValues) {
        sum += std::string(node.text().as_string("")).size();
    }
    for (pugi::xml_attribute attribute = node.first_attribute(); !attribute.empty();
         attribute = attribute.next_attribute()) {
        sum += std::strlen(attribute.name());
        if constexpr (WithValues) {
            sum += std::string(attribute.as_string("")).size();
        }
    }
    for (pugi::xml_node child = node.first_child(); !child.empty(); child = child.next_sibling()) {
        sum += WalkPugi<WithValues>(child);
    }
    return sum;
}

// One whole walk per call; kept out of line so that an instruction count
// (valgrind --tool=callgrind --toggle-collect='*WalkDocument*') sees exactly one walk.
template <bool WithValues>
[[gnu::noinline]] std::size_t WalkDocumentLib(const qiv::DataParserIF& parser) {
    std::size_t sum = 0;
    for (auto top = parser.FirstChild(); !top->Invalid(); top = top->NextSibling()) {
        sum += WalkLib<WithValues>(*top);
    }
    return sum;
}

template <bool WithValues>
[[gnu::noinline]] std::size_t WalkDocumentPugi(const pugi::xml_document& document) {
    std::size_t sum = 0;
    for (pugi::xml_node top = document.first_child(); !top.empty(); top = top.next_sibling()) {
        sum += WalkPugi<WithValues>(top);
    }
    return sum;
}

template <bool WithValues>
void WalkLibBench(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    for (auto _ : state) {
        benchmark::DoNotOptimize(WalkDocumentLib<WithValues>(*corpus.parser));
    }
    SetBytes(state, corpus);
}

template <bool WithValues>
void WalkPugiBench(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    for (auto _ : state) {
        benchmark::DoNotOptimize(WalkDocumentPugi<WithValues>(corpus.document));
    }
    SetBytes(state, corpus);
}

// ---- Values: SetValue then a read back, on every <balance> element ----

std::vector<std::unique_ptr<qiv::Node>> BalancesLib(const Corpus& corpus) {
    std::vector<std::unique_ptr<qiv::Node>> nodes;
    const auto root = corpus.parser->Child("records");
    for (auto record = root->Child("record"); !record->Invalid(); record = record->NextSibling()) {
        auto balance = record->Child("balance");
        if (!balance->Invalid()) {
            nodes.push_back(std::move(balance));
        }
    }
    return nodes;
}

std::vector<pugi::xml_node> BalancesPugi(const Corpus& corpus) {
    std::vector<pugi::xml_node> nodes;
    for (pugi::xml_node record : corpus.document.child("records").children("record")) {
        nodes.push_back(record.child("balance"));
    }
    return nodes;
}

// One pass over the nodes per call; kept out of line so that an instruction
// count sees the writes and read-backs without the search for the nodes.
[[gnu::noinline]] long SetIntsLib(const std::vector<std::unique_ptr<qiv::Node>>& nodes) {
    long sum = 0;
    int value = 0;
    for (const auto& node : nodes) {
        node->SetValue(++value);
        sum += node->ToInt();
    }
    return sum;
}

[[gnu::noinline]] long SetIntsPugi(const std::vector<pugi::xml_node>& nodes) {
    long sum = 0;
    int value = 0;
    for (const pugi::xml_node& node : nodes) {
        node.text().set(++value);
        sum += node.text().as_int();
    }
    return sum;
}

[[gnu::noinline]] std::size_t SetStringsLib(const std::vector<std::unique_ptr<qiv::Node>>& nodes) {
    std::size_t sum = 0;
    for (const auto& node : nodes) {
        node->SetValue("12345.67");
        sum += node->ToString().size();
    }
    return sum;
}

[[gnu::noinline]] std::size_t SetStringsPugi(const std::vector<pugi::xml_node>& nodes) {
    std::size_t sum = 0;
    for (const pugi::xml_node& node : nodes) {
        node.text().set("12345.67");
        sum += std::string(node.text().as_string("")).size();
    }
    return sum;
}

void SetValueIntLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const auto nodes = BalancesLib(corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetIntsLib(nodes));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes.size()));
}

void SetValueIntPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const auto nodes = BalancesPugi(corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetIntsPugi(nodes));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes.size()));
}

void SetValueStringLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const auto nodes = BalancesLib(corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetStringsLib(nodes));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes.size()));
}

void SetValueStringPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    const auto nodes = BalancesPugi(corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetStringsPugi(nodes));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes.size()));
}

// ---- XPath ----

[[gnu::noinline]] void SelectNodesLib(benchmark::State& state, double mb, std::size_t query) {
    Corpus& corpus = CorpusOf(mb);
    std::size_t selected = 0;
    for (auto _ : state) {
        const auto set = corpus.parser->SelectNodes(selectQueries[query]);
        selected = set ? set->Size() : 0;
        benchmark::DoNotOptimize(selected);
    }
    state.counters["selected"] = static_cast<double>(selected);
}

[[gnu::noinline]] void SelectNodesPugi(benchmark::State& state, double mb, std::size_t query) {
    Corpus& corpus = CorpusOf(mb);
    std::size_t selected = 0;
    for (auto _ : state) {
        const pugi::xpath_node_set set = corpus.document.select_nodes(selectQueries[query].c_str());
        selected = set.size();
        benchmark::DoNotOptimize(selected);
    }
    state.counters["selected"] = static_cast<double>(selected);
}

// Redaction rewrites the same nodes on every iteration: after the first one
// each write replaces "redacted" by "redacted", the same work each time.
void RedactNodesLib(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    for (auto _ : state) {
        corpus.parser->RedactNodes(redactQueries);
    }
    SetBytes(state, corpus);
}

void RedactNodesPugi(benchmark::State& state, double mb) {
    Corpus& corpus = CorpusOf(mb);
    for (auto _ : state) {
        for (const std::string& query : redactQueries) {
            for (const pugi::xpath_node& item : corpus.document.select_nodes(query.c_str())) {
                item.node().text().set("redacted");
            }
        }
    }
    SetBytes(state, corpus);
}

// ---- Registration and the ratio table ----

std::string SizeLabel(double mb) {
    std::ostringstream label;
    label << mb << "MB";
    return label.str();
}

template <typename Lib, typename Pugi>
void RegisterPair(const std::string& operation, double mb, Lib lib, Pugi pugi) {
    const std::string base = operation + "/" + SizeLabel(mb);
    benchmark::RegisterBenchmark((base + "/lib").c_str(), lib, mb)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((base + "/pugi").c_str(), pugi, mb)->Unit(benchmark::kMillisecond);
}

void RegisterAll(const std::vector<double>& sizes) {
    for (double mb : sizes) {
        RegisterPair("LoadString", mb, LoadStringLib, LoadStringPugi);
        RegisterPair("LoadStream", mb, LoadStreamLib, LoadStreamPugi);
        RegisterPair("LoadFile", mb, LoadFileLib, LoadFilePugi);
        RegisterPair("SaveToStream", mb, SaveToStreamLib, SaveToStreamPugi);
        RegisterPair("SaveFile", mb, SaveFileLib, SaveFilePugi);
        RegisterPair("WalkNames", mb, WalkLibBench<false>, WalkPugiBench<false>);
        RegisterPair("WalkNamesValues", mb, WalkLibBench<true>, WalkPugiBench<true>);
        for (std::size_t query = 0; query < selectQueries.size(); ++query) {
            RegisterPair(
                "SelectNodes" + std::to_string(query), mb,
                [query](benchmark::State& state, double size) {
                    SelectNodesLib(state, size, query);
                },
                [query](benchmark::State& state, double size) {
                    SelectNodesPugi(state, size, query);
                });
        }
        // These change the documents, so they come after the read-only ones.
        RegisterPair("SetValueToInt", mb, SetValueIntLib, SetValueIntPugi);
        RegisterPair("SetValueToString", mb, SetValueStringLib, SetValueStringPugi);
        RegisterPair("RedactNodes", mb, RedactNodesLib, RedactNodesPugi);
    }
}

/// Console output as usual, then one line per operation: the library's median
/// CPU time, pugixml's, and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times_[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
                units_[run.run_name.str()] = run.time_unit;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        out << "\nLibrary against pugixml (median CPU time per iteration)\n"
            << std::left << std::setw(34) << "operation" << std::right << std::setw(14) << "lib"
            << std::setw(14) << "pugi" << std::setw(9) << "ratio"
            << "\n";
        for (const auto& [name, libTimes] : times_) {
            const std::string suffix = "/lib";
            if (name.size() <= suffix.size() ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
                continue;
            }
            const std::string base = name.substr(0, name.size() - suffix.size());
            const auto pugi = times_.find(base + "/pugi");
            if (pugi == times_.end()) {
                continue;
            }
            const double lib = Median(libTimes);
            const double raw = Median(pugi->second);
            const char* unit = benchmark::GetTimeUnitString(units_[name]);
            out << std::left << std::setw(34) << base << std::right << std::fixed
                << std::setprecision(3) << std::setw(11) << lib << " " << std::setw(2) << unit
                << std::setw(11) << raw << " " << std::setw(2) << unit << std::setprecision(2)
                << std::setw(8) << (raw > 0 ? lib / raw : 0.0) << "x\n";
        }
        out << "Queries: ";
        for (std::size_t query = 0; query < selectQueries.size(); ++query) {
            out << "SelectNodes" << query << " = " << selectQueries[query] << "; ";
        }
        out << "RedactNodes = ";
        for (const std::string& query : redactQueries) {
            out << query << " ";
        }
        out << "\n";
    }

private:
    static double Median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const std::size_t mid = values.size() / 2;
        return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    }

    std::map<std::string, std::vector<double>> times_;
    std::map<std::string, benchmark::TimeUnit> units_;
};

/// Takes --doc_mb=LIST out of the arguments; the rest goes to the benchmark library.
std::vector<double> TakeSizes(int& argc, char** argv) {
    std::vector<double> sizes = {1, 50};
    const std::string flag = "--doc_mb=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind(flag, 0) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        sizes.clear();
        std::istringstream list(argument.substr(flag.size()));
        std::string item;
        while (std::getline(list, item, ',')) {
            const double mb = std::atof(item.c_str());
            if (mb <= 0) {
                std::cerr << "invalid size in " << argument << "\n";
                std::exit(2);
            }
            sizes.push_back(mb);
        }
    }
    argc = kept;
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<double> sizes = TakeSizes(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    // Documents are made before any timing, so that a run of one benchmark
    // alone (for instance under callgrind) does not count their making.
    for (double mb : sizes) {
        CorpusOf(mb);
    }
    RegisterAll(sizes);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(TempDir(), ignored);
    return 0;
}
