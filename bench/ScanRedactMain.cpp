// The redaction job as one pass over the bytes, as an upper bound of speed
// for compare-redact.sh: orn-bench-scan-redact [-i FILE] [-o FILE] XPATH...
// It is not a redactor: it understands only //name and //parent/name, checks
// no more of the markup than it needs to find elements (comments, CDATA
// sections, processing instructions, the DOCTYPE and quoted attribute values
// are skipped, element nesting is kept on a stack of names and end tags must
// match it), and decodes nothing. What it writes for a selected element is
// what orn-redact writes: the element's first direct text child that is not
// only white space (a text run or the inside of a CDATA section) becomes
// "redacted"; an element without one gets "redacted" in place of the white
// space before its end tag, or just before the end tag, and <name/> becomes
// <name>redacted</name>. Everything else is copied byte for byte.
// The input is read whole with read(2), scanned with memchr for '<', names
// are compared with memcmp, and the output goes out in large blocks with
// write(2); nothing is allocated per element.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const program = "orn-bench-scan-redact";
const char redacted[] = "redacted";
const size_t redactedLength = sizeof redacted - 1;

struct Expression {
    const char* parent;  // nullptr for //name
    size_t parentLength;
    const char* name;
    size_t nameLength;
};

struct OpenElement {
    const char* name;  // points into the input
    size_t nameLength;
    bool awaitingText;  // selected, and its text not yet replaced
};

[[noreturn]] void Fail(int status, const char* message, const char* detail = nullptr) {
    if (detail == nullptr) {
        fprintf(stderr, "%s: %s\n", program, message);
    } else {
        fprintf(stderr, "%s: %s: %s\n", program, message, detail);
    }
    exit(status);
}

[[noreturn]] void FailAt(const char* message, const char* data, const char* at) {
    fprintf(stderr, "%s: %s at offset %zu\n", program, message, static_cast<size_t>(at - data));
    exit(1);
}

bool IsNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c >= 0x80;
}

// Length of the name at the start of text (up to '/' or the end), or 0 when a
// byte other than a name byte comes first.
size_t NameLength(const char* text) {
    size_t length = 0;
    while (text[length] != '\0' && text[length] != '/') {
        if (!IsNameByte(static_cast<unsigned char>(text[length]))) {
            return 0;
        }
        ++length;
    }
    return length;
}

// //name or //parent/name; anything else ends the program with status 2.
Expression ParseExpression(const char* text) {
    Expression expression{};
    const char* at = text;
    size_t first = 0;
    if (strncmp(at, "//", 2) == 0) {
        at += 2;
        first = NameLength(at);
    }
    if (first == 0) {
        Fail(2, "unsupported expression (only //name and //parent/name are understood)", text);
    }
    if (at[first] == '\0') {
        expression.name = at;
        expression.nameLength = first;
        return expression;
    }
    const char* second = at + first + 1;
    const size_t secondLength = NameLength(second);
    if (secondLength == 0 || second[secondLength] != '\0') {
        Fail(2, "unsupported expression (only //name and //parent/name are understood)", text);
    }
    expression.parent = at;
    expression.parentLength = first;
    expression.name = second;
    expression.nameLength = secondLength;
    return expression;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool AllSpace(const char* from, const char* to) {
    for (; from < to; ++from) {
        if (!IsSpace(*from)) {
            return false;
        }
    }
    return true;
}

bool StartsWith(const char* at, const char* end, const char* prefix, size_t length) {
    return static_cast<size_t>(end - at) >= length && memcmp(at, prefix, length) == 0;
}

// Start of the first occurrence of the terminator at or after from, or nullptr.
const char* Find(const char* from, const char* end, const char* terminator, size_t length) {
    return static_cast<const char*>(
        memmem(from, static_cast<size_t>(end - from), terminator, length));
}

// Output in blocks of a few megabytes, each written with write(2).
class Output {
public:
    explicit Output(int fd) : fd_(fd), buffer_(static_cast<char*>(malloc(capacity))) {
        if (buffer_ == nullptr) {
            Fail(1, "out of memory");
        }
    }
    void Put(const char* data, size_t length) {
        if (length > capacity - used_) {
            Flush();
            if (length >= capacity) {
                WriteAll(data, length);
                return;
            }
        }
        memcpy(buffer_ + used_, data, length);
        used_ += length;
    }
    void Flush() {
        WriteAll(buffer_, used_);
        used_ = 0;
    }

private:
    static constexpr size_t capacity = size_t{4} << 20;
    void WriteAll(const char* data, size_t length) {
        while (length > 0) {
            const ssize_t written = write(fd_, data, length);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                Fail(1, "cannot write the output", strerror(errno));
            }
            data += written;
            length -= static_cast<size_t>(written);
        }
    }
    int fd_;
    char* buffer_;
    size_t used_ = 0;
};

// The whole of fd in one buffer; its size in *length.
char* ReadAll(int fd, size_t* length) {
    struct stat status;
    size_t capacity = fstat(fd, &status) == 0 && status.st_size > 0
                          ? static_cast<size_t>(status.st_size) + 1
                          : size_t{1} << 20;
    char* data = static_cast<char*>(malloc(capacity));
    size_t used = 0;
    for (;;) {
        if (data == nullptr) {
            Fail(1, "out of memory");
        }
        if (used == capacity) {
            capacity *= 2;
            data = static_cast<char*>(realloc(data, capacity));
            continue;
        }
        const ssize_t got = read(fd, data + used, capacity - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(1, "cannot read the input", strerror(errno));
        }
        if (got == 0) {
            break;
        }
        used += static_cast<size_t>(got);
    }
    *length = used;
    return data;
}

// Past the end of a declaration such as <!DOCTYPE ...> that starts at at,
// with its quoted strings and an internal subset in brackets (whose comments,
// processing instructions and quoted strings may hold '>' and ']').
const char* SkipDeclaration(const char* data, const char* at, const char* end) {
    bool inSubset = false;
    for (const char* p = at + 2; p < end; ++p) {
        const char c = *p;
        if (c == '"' || c == '\'') {
            p = static_cast<const char*>(memchr(p + 1, c, static_cast<size_t>(end - p - 1)));
            if (p == nullptr) {
                break;
            }
        } else if (inSubset && StartsWith(p, end, "<!--", 4)) {
            p = Find(p + 4, end, "-->", 3);
            if (p == nullptr) {
                break;
            }
            p += 2;
        } else if (inSubset && StartsWith(p, end, "<?", 2)) {
            p = Find(p + 2, end, "?>", 2);
            if (p == nullptr) {
                break;
            }
            p += 1;
        } else if (c == '[') {
            inSubset = true;
        } else if (c == ']') {
            inSubset = false;
        } else if (c == '>' && !inSubset) {
            return p + 1;
        }
    }
    FailAt("unterminated declaration", data, at);
}

class Scanner {
public:
    Scanner(const Expression* expressions, size_t count, Output& output)
        : expressions_(expressions), count_(count), output_(output) {}

    void Run(const char* data, size_t length) {
        const char* const end = data + length;
        copied_ = data;
        const char* p = data;  // end of the last markup: a text run starts here
        for (;;) {
            const char* lt = static_cast<const char*>(memchr(p, '<', static_cast<size_t>(end - p)));
            if (lt == nullptr) {
                break;
            }
            OpenElement* top = depth_ > 0 ? &stack_[depth_ - 1] : nullptr;
            if (top != nullptr && top->awaitingText && lt > p && !AllSpace(p, lt)) {
                Replace(p, lt);
                top->awaitingText = false;
            }
            if (lt + 1 == end) {
                FailAt("'<' at the end of the input", data, lt);
            }
            const char next = lt[1];
            if (next == '!') {
                if (StartsWith(lt, end, "<!--", 4)) {
                    const char* close = Find(lt + 4, end, "-->", 3);
                    if (close == nullptr) {
                        FailAt("unterminated comment", data, lt);
                    }
                    p = close + 3;
                } else if (StartsWith(lt, end, "<![CDATA[", 9)) {
                    const char* close = Find(lt + 9, end, "]]>", 3);
                    if (close == nullptr) {
                        FailAt("unterminated CDATA section", data, lt);
                    }
                    if (top != nullptr && top->awaitingText) {
                        Replace(lt + 9, close);
                        top->awaitingText = false;
                    }
                    p = close + 3;
                } else {
                    p = SkipDeclaration(data, lt, end);
                }
            } else if (next == '?') {
                const char* close = Find(lt + 2, end, "?>", 2);
                if (close == nullptr) {
                    FailAt("unterminated processing instruction", data, lt);
                }
                p = close + 2;
            } else if (next == '/') {
                const char* gt = static_cast<const char*>(
                    memchr(lt + 2, '>', static_cast<size_t>(end - lt - 2)));
                if (gt == nullptr) {
                    FailAt("unterminated end tag", data, lt);
                }
                const char* name = lt + 2;
                const char* nameEnd = name;
                while (nameEnd < gt && !IsSpace(*nameEnd)) {
                    ++nameEnd;
                }
                const size_t nameLength = static_cast<size_t>(nameEnd - name);
                if (top == nullptr || top->nameLength != nameLength ||
                    memcmp(top->name, name, nameLength) != 0) {
                    FailAt("end tag that does not match the open element", data, lt);
                }
                if (top->awaitingText) {
                    // No text child: "redacted" takes the place of the white
                    // space before the end tag.
                    Replace(p, lt);
                }
                --depth_;
                p = gt + 1;
            } else {
                p = StartTag(data, lt, end);
            }
        }
        if (depth_ != 0) {
            FailAt("element not closed at the end of the input", data, stack_[depth_ - 1].name);
        }
        output_.Put(copied_, static_cast<size_t>(end - copied_));
    }

private:
    // Writes what was read up to from, then "redacted" in place of [from, to).
    void Replace(const char* from, const char* to) {
        output_.Put(copied_, static_cast<size_t>(from - copied_));
        output_.Put(redacted, redactedLength);
        copied_ = to;
    }

    bool Selected(const char* name, size_t nameLength) const {
        for (size_t i = 0; i < count_; ++i) {
            const Expression& e = expressions_[i];
            if (e.nameLength != nameLength || memcmp(e.name, name, nameLength) != 0) {
                continue;
            }
            if (e.parent == nullptr) {
                return true;
            }
            if (depth_ > 0) {
                const OpenElement& parent = stack_[depth_ - 1];
                if (parent.nameLength == e.parentLength &&
                    memcmp(parent.name, e.parent, e.parentLength) == 0) {
                    return true;
                }
            }
        }
        return false;
    }

    // The start tag at lt; returns the position after it.
    const char* StartTag(const char* data, const char* lt, const char* end) {
        const char* name = lt + 1;
        const char* q = name;
        while (q < end && !IsSpace(*q) && *q != '/' && *q != '>') {
            ++q;
        }
        const size_t nameLength = static_cast<size_t>(q - name);
        if (nameLength == 0) {
            FailAt("'<' not followed by a name", data, lt);
        }
        // The closing '>', past quoted attribute values (which may hold '>').
        for (; q < end && *q != '>'; ++q) {
            if (*q == '"' || *q == '\'') {
                q = static_cast<const char*>(memchr(q + 1, *q, static_cast<size_t>(end - q - 1)));
                if (q == nullptr) {
                    FailAt("unterminated attribute value", data, lt);
                }
            }
        }
        if (q == end) {
            FailAt("unterminated start tag", data, lt);
        }
        const bool empty = q[-1] == '/';
        const bool selected = Selected(name, nameLength);
        if (empty) {
            if (selected) {
                // <name .../> becomes <name ...>redacted</name>.
                output_.Put(copied_, static_cast<size_t>(q - 1 - copied_));
                output_.Put(">", 1);
                output_.Put(redacted, redactedLength);
                output_.Put("</", 2);
                output_.Put(name, nameLength);
                copied_ = q;
            }
            return q + 1;
        }
        if (depth_ == capacity_) {
            capacity_ = capacity_ == 0 ? 64 : capacity_ * 2;
            stack_ = static_cast<OpenElement*>(realloc(stack_, capacity_ * sizeof(OpenElement)));
            if (stack_ == nullptr) {
                Fail(1, "out of memory");
            }
        }
        stack_[depth_++] = OpenElement{name, nameLength, selected};
        return q + 1;
    }

    const Expression* expressions_;
    size_t count_;
    Output& output_;
    const char* copied_ = nullptr;  // input before this has gone to the output
    OpenElement* stack_ = nullptr;
    size_t depth_ = 0;
    size_t capacity_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const char* input = nullptr;
    const char* output = nullptr;
    Expression* expressions =
        static_cast<Expression*>(malloc(static_cast<size_t>(argc) * sizeof(Expression)));
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-i") == 0 && i + 1 < argc) {
            input = argv[++i];
        } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else {
            expressions[count++] = ParseExpression(argv[i]);
        }
    }
    if (count == 0) {
        fprintf(stderr, "usage: %s [-i FILE] [-o FILE] XPATH...\n", program);
        return 2;
    }

    const int in = input == nullptr ? 0 : open(input, O_RDONLY);
    if (in < 0) {
        Fail(1, "cannot open the input", strerror(errno));
    }
    size_t length = 0;
    const char* data = ReadAll(in, &length);
    const int out =
        output == nullptr ? 1 : open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        Fail(1, "cannot create the output", strerror(errno));
    }
    Output writer(out);
    Scanner(expressions, count, writer).Run(data, length);
    writer.Flush();
    if (output != nullptr && close(out) != 0) {
        Fail(1, "cannot write the output", strerror(errno));
    }
    return 0;
}
