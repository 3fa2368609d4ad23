#pragma once

// Helpers shared by the fuzz targets: a quiet standard output, a bounded
// walk of a whole document through the public interface, and a check that
// fails loudly.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "DataParserIF.h"
#include "LogClient.h"

namespace qiv::fuzz {

/// Swallows everything; std::cout is pointed here so that the parse-error
/// reports of the library do not flood the fuzzer's log.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int ch) override { return traits_type::not_eof(ch); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

/// Silences standard output and the log: records are still built down to
/// the given level (so that code runs too) but then dropped.
inline void SilenceOutput(LogLevel level) {
    static NullBuffer sink;
    std::cout.rdbuf(&sink);
    LogClient::SetLevel(level);
    LogClient::SetSink([](const LogRecord&) {});
}

/// Aborts with a message, so that libFuzzer records the input as a crash.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what.c_str());
    std::abort();
}

inline void Check(bool condition, const std::string& what) {
    if (!condition) {
        Fail(what);
    }
}

/// Reads every value an attribute offers and appends it to the signature.
inline void ReadAttribute(const Attribute& attribute, std::string& signature) {
    signature += ' ';
    signature += attribute.Name();
    signature += "=\"";
    signature += attribute.ToString("?");
    signature += '"';
    // The numeric readers must not crash on any text; their results depend on
    // the C library's conversions and take no part in the signature.
    (void)attribute.ToInt(-1);
    (void)attribute.ToUnsignedInt(7);
    (void)attribute.ToDouble(0.5);
    (void)attribute.ToFloat(0.25f);
    (void)attribute.ToBool(true);
}

/// lastTextDepth is the depth of the text node read just before, 0 if none.
inline void ReadNode(const Node& node, std::size_t depth, std::string& signature,
                     std::size_t& lastTextDepth) {
    const Node::TypeName type = node.Type();
    const std::string text = node.ToString();
    (void)node.ToInt(-1);
    (void)node.ToUnsignedInt(7);
    (void)node.ToDouble(0.5);
    (void)node.ToFloat(0.25f);
    (void)node.ToBool(true);
    // Neighbouring text nodes are written out as one run and read back as one
    // node, so the signature treats them as one; an empty text node leaves no
    // trace in saved text and none in the signature.
    if (type == Node::TypeName::PCData) {
        if (!text.empty()) {
            if (lastTextDepth != depth) {
                signature += '\n' + std::to_string(depth) + " text ";
            }
            signature += text;
            lastTextDepth = depth;
        }
        return;
    }
    lastTextDepth = 0;
    signature += '\n' + std::to_string(depth) + ' ' + std::to_string(static_cast<int>(type)) + ' ';
    signature += node.Name();
    if (type == Node::TypeName::CData) {
        signature += " [" + text + ']';
    }
    std::size_t attributes = 0;
    for (auto attribute = node.FirstAttribute(); !attribute->Invalid();
         attribute = attribute->NextAttribute()) {
        ReadAttribute(*attribute, signature);
        ++attributes;
    }
    // Walking backwards must meet the same number of attributes.
    for (auto attribute = node.LastAttribute(); !attribute->Invalid();
         attribute = attribute->PreviousAttribute()) {
        Check(attributes-- > 0, "backward attribute walk is longer than the forward one");
    }
    Check(attributes == 0, "backward attribute walk is shorter than the forward one");
}

/// Walks the whole document depth-first through Node and Attribute, with an
/// explicit stack (no recursion, so deep documents are fine), reading every
/// value. Returns a signature of the content: equal documents give equal
/// signatures. At most maxNodes nodes are visited.
inline std::string Walk(const DataParserIF& parser, std::size_t maxNodes = 200000) {
    std::string signature;
    std::size_t lastTextDepth = 0;
    (void)parser.Type();
    (void)parser.Name();
    (void)parser.Value();
    (void)parser.Text();
    std::vector<std::unique_ptr<Node>> path;
    if (auto first = parser.FirstChild(); !first->Invalid()) {
        path.push_back(std::move(first));
    }
    std::size_t visited = 0;
    while (!path.empty() && visited++ < maxNodes) {
        ReadNode(*path.back(), path.size(), signature, lastTextDepth);
        if (auto child = path.back()->FirstChild(); !child->Invalid()) {
            path.push_back(std::move(child));
            continue;
        }
        while (!path.empty()) {
            auto next = path.back()->NextSibling();
            path.pop_back();
            if (!next->Invalid()) {
                path.push_back(std::move(next));
                break;
            }
        }
    }
    return signature;
}

inline std::string Saved(DataParserIF& parser, unsigned int format) {
    std::ostringstream out;
    parser.SaveToStream(out, format);
    return out.str();
}

}  // namespace qiv::fuzz
