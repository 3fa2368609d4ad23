#include "OutputAudit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "AuditText.h"
#include "Auditor.h"
#include "Descriptor.h"
#include "Encoding.h"
#include "Markup.h"
#include "ReadInput.h"
#include "Workers.h"

namespace qiv::redact {

namespace {

using namespace audit;

// An output this large is audited in two halves at once.
constexpr std::uint64_t splitFrom = 8 << 20;

// Reads a file from where its descriptor is.
class DescriptorSource : public ByteSource {
public:
    explicit DescriptorSource(int descriptor) : descriptor_(descriptor) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        for (;;) {
            const ssize_t count = ::read(descriptor_, buffer, capacity);
            if (count >= 0) {
                got = static_cast<std::size_t>(count);
                read_ += got;
                return true;
            }
            if (errno != EINTR) {
                error_ = std::strerror(errno);
                return false;
            }
        }
    }
    const std::string& Error() const override { return error_; }
    std::uint64_t SourceBytes() const override { return read_; }

private:
    int descriptor_;
    std::string error_;
    std::uint64_t read_ = 0;
};

struct Candidate {
    std::string what;
    std::uint64_t offset = UINT64_MAX;
    TextPosition position;

    void Take(const std::string& other, const Place& place, const TextPosition& from) {
        if (place.set && place.offset < offset) {
            what = other;
            offset = place.offset;
            position = Advance(from, place.position);
        }
    }
};

// The first half's findings with the fragment's: what the fragment noted is
// judged against the elements still open where the first half stopped.
void Join(Auditor& first, Auditor& second, OutputAuditResult& result) {
    const TextPosition cut = first.Here();
    const std::size_t open = first.depth_;
    Candidate problem;
    problem.Take(second.problem_, second.problemAt_, cut);
    for (std::size_t index = 0; index < second.pops_.size(); ++index) {
        const Auditor::Pop& pop = second.pops_[index];
        if (index >= open) {
            problem.Take("an end tag without its start tag", pop.place, cut);
            break;
        }
        const std::string& due = first.open_[open - 1 - index];
        if (pop.name != due) {
            problem.Take("the end tag </" + pop.name + "> where </" + due + "> is due", pop.place,
                         cut);
            break;
        }
    }
    if (second.levelText_.size() > open) {
        problem.Take("text outside the document element", second.levelText_[open], cut);
    }
    if (second.levelElement_.size() > open) {
        problem.Take("a second element after the document element", second.levelElement_[open],
                     cut);
    }
    if (!second.problemAt_.set && open + second.depth_ > second.pops_.size()) {
        // Read to the end with elements still open.
        const Place end{second.endOffset_, second.End(), true};
        problem.Take("the output ends before the end tag of its document element", end, cut);
    }
    if (problem.offset != UINT64_MAX) {
        result.problem = problem.what + At(problem.position, problem.offset);
    }
    result.leftovers += second.result_.leftovers;
    for (Leftover leftover : second.result_.shown) {
        if (result.shown.size() < shownLeftovers) {
            leftover.position = Advance(cut, leftover.position);
            result.shown.push_back(leftover);
        }
    }
    first.shape_.Append(second.shape_);
}

// Where a fragment of the output from about middle on may start: the first
// start or end tag at or after it; none when none is near.
std::uint64_t FragmentStart(int descriptor, std::uint64_t middle) {
    char probe[64 * 1024];
    const ssize_t count = ::pread(descriptor, probe, sizeof probe, static_cast<off_t>(middle));
    if (count <= 0) {
        return UINT64_MAX;
    }
    const std::string_view text(probe, static_cast<std::size_t>(count));
    for (std::size_t lt = text.find('<'); lt != none && lt + 1 < text.size();
         lt = text.find('<', lt + 1)) {
        if (text[lt + 1] == '/' || classes.Is(text[lt + 1], nameStart)) {
            return middle + lt;
        }
    }
    return UINT64_MAX;
}

OutputAuditResult Finish(Auditor& auditor, const AuditTrail& trail, OutputAuditResult result) {
    if (result.error.empty() && result.problem.empty() && !auditor.problem_.empty()) {
        result.problem =
            auditor.problem_ + At(auditor.problemAt_.position, auditor.problemAt_.offset);
    }
    if (result.error.empty() && result.problem.empty() && auditor.shape_ != trail.shape) {
        result.problem = "its elements are not those of the redacted document (" +
                         std::to_string(auditor.shape_.Count() / 2) + " written, " +
                         std::to_string(trail.shape.Count() / 2) +
                         " expected, or other names or nesting)";
    }
    return result;
}

}  // namespace

OutputAuditResult AuditOutput(ByteSource& source, const AuditTrail& trail, std::size_t show) {
    AuditStart start;
    start.show = show;
    Auditor auditor(source, trail, start);
    auditor.Run();
    return Finish(auditor, trail, auditor.result_);
}

OutputAuditResult AuditFile(const std::string& path, const AuditTrail& trail) {
    OutputAuditResult failed;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        failed.error = std::strerror(errno);
        return failed;
    }
    const OwnedDescriptor owned(descriptor);
    ReaderSource source(descriptor, path);
    struct stat info {};
    WorkerPool& pool = WorkerPool::Shared();
    const bool large = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                       static_cast<std::uint64_t>(info.st_size) >= splitFrom;
    if (!large || pool.Threads() == 0 || source.Format() != Compression::None) {
        return AuditOutput(source, trail);
    }
    // Two halves at once: the second from a tag near the middle, on a worker.
    const std::uint64_t start =
        FragmentStart(descriptor, static_cast<std::uint64_t>(info.st_size) / 2);
    char head[4096];
    const ssize_t headBytes = ::pread(descriptor, head, sizeof head, 0);
    const int again = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (start == UINT64_MAX || headBytes <= 0 || again < 0 ||
        ::lseek(again, static_cast<off_t>(start), SEEK_SET) != static_cast<off_t>(start)) {
        const OwnedDescriptor close(again);
        return AuditOutput(source, trail);
    }
    const OwnedDescriptor ownedAgain(again);
    DescriptorSource rest(again);
    AuditStart fragment;
    fragment.offset = start;
    fragment.fragment = true;
    fragment.latin1 =
        ConvertedEncoding(std::string_view(head, static_cast<std::size_t>(headBytes))) == "Latin-1";
    Auditor second(rest, trail, fragment);
    std::atomic<bool> done{false};
    bool read = false;
    pool.Submit(
        [&]() {
            read = second.Run();
            done = true;
            pool.Notify();
        },
        true);
    AuditStart half;
    half.limit = start;
    Auditor first(source, trail, half);
    first.Run();
    pool.HelpUntil([&done]() { return done.load(); });
    OutputAuditResult result = first.result_;
    if (first.cut_ && result.error.empty() && first.problem_.empty()) {
        if (!read) {
            result.error = second.result_.error;
            return result;
        }
        Join(first, second, result);
    }
    return Finish(first, trail, std::move(result));
}

}  // namespace qiv::redact
