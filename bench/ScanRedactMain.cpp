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
// The input comes in blocks of a megabyte with read(2) into a buffer that is
// used again (a buffer the size of the file costs more in page faults than
// the scan itself), is scanned with memchr for '<', names are compared with
// memcmp, and the output goes out in blocks of a megabyte with write(2);
// nothing is allocated per element.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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
    size_t nameOffset;  // in the names of the open elements
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

// Output in blocks of a megabyte, each written with write(2).
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
    static constexpr size_t capacity = size_t{1} << 20;
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

// The input in blocks read with read(2) into one buffer that is used again
// for each block. The bytes from a given position on (an unfinished text run
// or markup) move to the front before the next block comes in; the buffer
// grows only when they fill it.
class Input {
public:
    explicit Input(int fd) : fd_(fd), data_(static_cast<char*>(malloc(capacity_))) {
        if (data_ == nullptr) {
            Fail(1, "out of memory");
        }
        Read();
    }
    const char* Data() const { return data_; }
    const char* End() const { return end_; }
    bool AtEnd() const { return atEnd_; }
    // Offset in the whole input of a position in the buffer.
    size_t Offset(const char* at) const { return base_ + static_cast<size_t>(at - data_); }
    // Moves [keep, End()) to the front and reads the next block after it.
    void Next(const char* keep) {
        const size_t kept = static_cast<size_t>(end_ - keep);
        base_ += static_cast<size_t>(keep - data_);
        memmove(data_, keep, kept);
        end_ = data_ + kept;
        if (kept == capacity_) {
            capacity_ *= 2;
            data_ = static_cast<char*>(realloc(data_, capacity_));
            if (data_ == nullptr) {
                Fail(1, "out of memory");
            }
            end_ = data_ + kept;
        }
        Read();
    }

private:
    void Read() {
        for (;;) {
            const ssize_t got = read(fd_, end_, capacity_ - static_cast<size_t>(end_ - data_));
            if (got > 0) {
                end_ += got;
                return;
            }
            if (got == 0) {
                atEnd_ = true;
                return;
            }
            if (errno != EINTR) {
                Fail(1, "cannot read the input", strerror(errno));
            }
        }
    }
    int fd_;
    size_t capacity_ = size_t{1} << 20;
    char* data_;
    char* end_ = data_;
    size_t base_ = 0;
    bool atEnd_ = false;
};

// Past the end of a declaration such as <!DOCTYPE ...> that starts at at,
// with its quoted strings and an internal subset in brackets (whose comments,
// processing instructions and quoted strings may hold '>' and ']'); nullptr
// when it does not end before end.
const char* SkipDeclaration(const char* at, const char* end) {
    bool inSubset = false;
    for (const char* p = at + 2; p < end; ++p) {
        const char c = *p;
        if (c == '"' || c == '\'') {
            p = static_cast<const char*>(memchr(p + 1, c, static_cast<size_t>(end - p - 1)));
            if (p == nullptr) {
                return nullptr;
            }
        } else if (inSubset && c == '<') {
            if (end - p < 4) {
                return nullptr;
            }
            const char* close = nullptr;
            if (memcmp(p, "<!--", 4) == 0) {
                close = Find(p + 4, end, "-->", 3);
            } else if (p[1] == '?') {
                close = Find(p + 2, end, "?>", 2);
            } else {
                continue;
            }
            if (close == nullptr) {
                return nullptr;
            }
            p = close + 1;
        } else if (c == '[') {
            inSubset = true;
        } else if (c == ']') {
            inSubset = false;
        } else if (c == '>' && !inSubset) {
            return p + 1;
        }
    }
    return nullptr;
}

class Scanner {
public:
    Scanner(const Expression* expressions, size_t count, Input& input, Output& output)
        : expressions_(expressions), count_(count), input_(input), output_(output) {}

    void Run() {
        copied_ = input_.Data();
        const char* p = copied_;  // end of the last markup: a text run starts here
        for (;;) {
            const char* end = input_.End();
            const char* lt = static_cast<const char*>(memchr(p, '<', static_cast<size_t>(end - p)));
            OpenElement* top = depth_ > 0 ? &stack_[depth_ - 1] : nullptr;
            if (lt == nullptr) {
                if (input_.AtEnd()) {
                    break;
                }
                // The text run goes on in the next block. Only a selected
                // element still waiting for its text needs all of it.
                p = NextBlock(top != nullptr && top->awaitingText ? p : end);
                continue;
            }
            if (top != nullptr && top->awaitingText && lt > p && !AllSpace(p, lt)) {
                Replace(p, lt);
                top->awaitingText = false;
            }
            const char* after = Markup(p, lt, end, top);
            if (after == nullptr) {
                if (input_.AtEnd()) {
                    FailAt(unfinished_, lt);
                }
                // A selected element still waiting for its text may need the
                // white space before the markup (see EndTag).
                p = NextBlock(top != nullptr && top->awaitingText ? p : lt);
                continue;
            }
            p = after;
        }
        if (depth_ != 0) {
            const OpenElement& last = stack_[depth_ - 1];
            fprintf(stderr, "%s: <%.*s> not closed at the end of the input\n", program,
                    static_cast<int>(last.nameLength), names_ + last.nameOffset);
            exit(1);
        }
        output_.Put(copied_, static_cast<size_t>(input_.End() - copied_));
    }

private:
    [[noreturn]] void FailAt(const char* message, const char* at) const {
        fprintf(stderr, "%s: %s at offset %zu\n", program, message, input_.Offset(at));
        exit(1);
    }

    // Writes what was read before keep, and reads the next block after the
    // rest; returns where keep is now.
    const char* NextBlock(const char* keep) {
        output_.Put(copied_, static_cast<size_t>(keep - copied_));
        input_.Next(keep);
        copied_ = input_.Data();
        return copied_;
    }

    // Writes what was read up to from, then "redacted" in place of [from, to).
    void Replace(const char* from, const char* to) {
        output_.Put(copied_, static_cast<size_t>(from - copied_));
        output_.Put(redacted, redactedLength);
        copied_ = to;
    }

    // The markup at lt, after the text run that starts at run; returns the
    // position after it, or nullptr (with the reason in unfinished_) when it
    // does not end before end. Nothing changes before the end of the markup
    // has been found.
    const char* Markup(const char* run, const char* lt, const char* end, OpenElement* top) {
        // Enough bytes to tell the kinds of markup apart.
        if (end - lt < 9 && !input_.AtEnd()) {
            unfinished_ = "unfinished markup";
            return nullptr;
        }
        if (end - lt < 2) {
            unfinished_ = "'<' at the end of the input";
            return nullptr;
        }
        const char next = lt[1];
        if (next == '!') {
            if (StartsWith(lt, end, "<!--", 4)) {
                unfinished_ = "unterminated comment";
                const char* close = Find(lt + 4, end, "-->", 3);
                return close == nullptr ? nullptr : close + 3;
            }
            if (StartsWith(lt, end, "<![CDATA[", 9)) {
                unfinished_ = "unterminated CDATA section";
                const char* close = Find(lt + 9, end, "]]>", 3);
                if (close == nullptr) {
                    return nullptr;
                }
                if (top != nullptr && top->awaitingText) {
                    Replace(lt + 9, close);
                    top->awaitingText = false;
                }
                return close + 3;
            }
            unfinished_ = "unterminated declaration";
            return SkipDeclaration(lt, end);
        }
        if (next == '?') {
            unfinished_ = "unterminated processing instruction";
            const char* close = Find(lt + 2, end, "?>", 2);
            return close == nullptr ? nullptr : close + 2;
        }
        if (next == '/') {
            return EndTag(run, lt, end, top);
        }
        return StartTag(lt, end);
    }

    const char* EndTag(const char* run, const char* lt, const char* end, OpenElement* top) {
        unfinished_ = "unterminated end tag";
        const char* gt =
            static_cast<const char*>(memchr(lt + 2, '>', static_cast<size_t>(end - lt - 2)));
        if (gt == nullptr) {
            return nullptr;
        }
        const char* name = lt + 2;
        const char* nameEnd = name;
        while (nameEnd < gt && !IsSpace(*nameEnd)) {
            ++nameEnd;
        }
        const size_t nameLength = static_cast<size_t>(nameEnd - name);
        if (top == nullptr || top->nameLength != nameLength ||
            memcmp(names_ + top->nameOffset, name, nameLength) != 0) {
            FailAt("end tag that does not match the open element", lt);
        }
        if (top->awaitingText) {
            // No text child: "redacted" takes the place of the white space
            // before the end tag (the text run that ends here).
            Replace(run, lt);
        }
        --depth_;
        namesUsed_ = top->nameOffset;
        return gt + 1;
    }

    // The start tag at lt.
    const char* StartTag(const char* lt, const char* end) {
        unfinished_ = "unterminated start tag";
        const char* name = lt + 1;
        const char* q = name;
        while (q < end && !IsSpace(*q) && *q != '/' && *q != '>') {
            ++q;
        }
        const size_t nameLength = static_cast<size_t>(q - name);
        // The closing '>', past quoted attribute values (which may hold '>').
        for (; q < end && *q != '>'; ++q) {
            if (*q == '"' || *q == '\'') {
                q = static_cast<const char*>(memchr(q + 1, *q, static_cast<size_t>(end - q - 1)));
                if (q == nullptr) {
                    return nullptr;
                }
            }
        }
        if (q == end) {
            return nullptr;
        }
        if (nameLength == 0) {
            FailAt("'<' not followed by a name", lt);
        }
        const bool selected = Selected(name, nameLength);
        if (q[-1] == '/') {
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
        Push(name, nameLength, selected);
        return q + 1;
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
                    memcmp(names_ + parent.nameOffset, e.parent, e.parentLength) == 0) {
                    return true;
                }
            }
        }
        return false;
    }

    // The names of the open elements are copied one after the other into
    // names_, since the buffer they were read into is used again; both arrays
    // grow by doubling.
    void Push(const char* name, size_t nameLength, bool selected) {
        if (depth_ == capacity_) {
            capacity_ = capacity_ == 0 ? 64 : capacity_ * 2;
            stack_ = static_cast<OpenElement*>(realloc(stack_, capacity_ * sizeof(OpenElement)));
            if (stack_ == nullptr) {
                Fail(1, "out of memory");
            }
        }
        if (namesCapacity_ - namesUsed_ < nameLength) {
            while (namesCapacity_ - namesUsed_ < nameLength) {
                namesCapacity_ = namesCapacity_ == 0 ? 1024 : namesCapacity_ * 2;
            }
            names_ = static_cast<char*>(realloc(names_, namesCapacity_));
            if (names_ == nullptr) {
                Fail(1, "out of memory");
            }
        }
        memcpy(names_ + namesUsed_, name, nameLength);
        stack_[depth_++] = OpenElement{namesUsed_, nameLength, selected};
        namesUsed_ += nameLength;
    }

    const Expression* expressions_;
    size_t count_;
    Input& input_;
    Output& output_;
    const char* copied_ = nullptr;  // input before this has gone to the output
    const char* unfinished_ = "";   // what the last markup lacked
    OpenElement* stack_ = nullptr;
    size_t depth_ = 0;
    size_t capacity_ = 0;
    char* names_ = nullptr;
    size_t namesUsed_ = 0;
    size_t namesCapacity_ = 0;
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
    Input reader(in);
    const int out =
        output == nullptr ? 1 : open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        Fail(1, "cannot create the output", strerror(errno));
    }
    Output writer(out);
    Scanner(expressions, count, reader, writer).Run();
    writer.Flush();
    if (output != nullptr && close(out) != 0) {
        Fail(1, "cannot write the output", strerror(errno));
    }
    return 0;
}
