#include "Processors.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qiv::redact {

namespace {

namespace fs = std::filesystem;

// CPUs in the calling thread's affinity mask; 0 when it cannot be read. The
// mask is asked for in ever larger sets, for machines with more CPUs than a
// cpu_set_t holds.
unsigned int AffinityProcessors() {
#if defined(__linux__) && defined(CPU_COUNT_S)
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        const std::unique_ptr<cpu_set_t, void (*)(cpu_set_t*)> set(
            CPU_ALLOC(cpus), [](cpu_set_t* s) { CPU_FREE(s); });
        if (!set) {
            return 0;
        }
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set.get());
        if (::sched_getaffinity(0, size, set.get()) == 0) {
            return static_cast<unsigned int>(CPU_COUNT_S(size, set.get()));
        }
        if (errno != EINVAL) {
            return 0;
        }
    }
#endif
    return 0;
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t begin = text.find_first_not_of(separators, at);
        if (begin == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find_first_of(separators, begin), text.size());
        parts.push_back(text.substr(begin, end - begin));
        at = end;
    }
    return parts;
}

bool HasItem(std::string_view list, std::string_view item) {
    const std::vector<std::string_view> items = Split(list, ",");
    return std::find(items.begin(), items.end(), item) != items.end();
}

bool ParseInteger(std::string_view text, long long& value) {
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    return !text.empty() && failure == std::errc() && stop == end;
}

// quota microseconds of CPU time in every period, in whole processors; 0 for
// no limit.
unsigned int WholeProcessors(long long quota, long long period) {
    if (quota <= 0 || period <= 0) {
        return 0;
    }
    const long long whole = quota / period + (quota % period != 0 ? 1 : 0);
    return static_cast<unsigned int>(std::min<long long>(whole, UINT_MAX));
}

// The tighter of two limits, where 0 is none.
unsigned int Tighter(unsigned int a, unsigned int b) {
    return a == 0 ? b : b == 0 ? a : std::min(a, b);
}

// cgroup v2: cpu.max holds "QUOTA PERIOD", or "max PERIOD" for no limit.
unsigned int LimitV2(const fs::path& directory) {
    const std::optional<std::string> text = ReadSmallFile(directory / "cpu.max");
    if (!text) {
        return 0;
    }
    const std::vector<std::string_view> fields = Split(*text, " \t\n");
    long long quota = 0, period = 0;
    if (fields.size() != 2 || !ParseInteger(fields[0], quota) || !ParseInteger(fields[1], period)) {
        return 0;
    }
    return WholeProcessors(quota, period);
}

// cgroup v1: cpu.cfs_quota_us (-1 for no limit) per cpu.cfs_period_us.
unsigned int LimitV1(const fs::path& directory) {
    const std::optional<std::string> quotaText = ReadSmallFile(directory / "cpu.cfs_quota_us");
    const std::optional<std::string> periodText = ReadSmallFile(directory / "cpu.cfs_period_us");
    if (!quotaText || !periodText) {
        return 0;
    }
    const std::vector<std::string_view> quotaFields = Split(*quotaText, " \t\n");
    const std::vector<std::string_view> periodFields = Split(*periodText, " \t\n");
    long long quota = 0, period = 0;
    if (quotaFields.size() != 1 || periodFields.size() != 1 ||
        !ParseInteger(quotaFields[0], quota) || !ParseInteger(periodFields[0], period)) {
        return 0;
    }
    return WholeProcessors(quota, period);
}

// Where a cgroup hierarchy is mounted: the cgroup shown at the mount point,
// and the mount point.
struct Mount {
    std::string root;
    std::string point;
};

// mountinfo writes blanks and backslashes in paths as octal escapes ("\040").
std::string Unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool octal =
            text[at] == '\\' && at + 3 < text.size() &&
            text.substr(at + 1, 3).find_first_not_of("01234567") == std::string_view::npos;
        if (octal) {
            plain += static_cast<char>((text[at + 1] - '0') * 64 + (text[at + 2] - '0') * 8 +
                                       (text[at + 3] - '0'));
            at += 3;
        } else {
            plain += text[at];
        }
    }
    return plain;
}

// The mounts of the version 2 hierarchy and of version 1's cpu controller.
// Without mountinfo they are taken to be where systems mount them.
struct Mounts {
    std::optional<Mount> unified;
    std::optional<Mount> cpu;
};

Mounts FindMounts(const std::optional<std::string>& mountinfo) {
    if (!mountinfo) {
        return {Mount{"/", "/sys/fs/cgroup"}, Mount{"/", "/sys/fs/cgroup/cpu"}};
    }
    Mounts mounts;
    for (const std::string_view line : Split(*mountinfo, "\n")) {
        // ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
        const std::vector<std::string_view> fields = Split(line, " ");
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 6 || dash == fields.end() || fields.end() - dash < 4) {
            continue;
        }
        const std::string_view type = dash[1];
        const Mount mount{Unescaped(fields[3]), Unescaped(fields[4])};
        if (type == "cgroup2" && !mounts.unified) {
            mounts.unified = mount;
        } else if (type == "cgroup" && HasItem(dash[3], "cpu") && !mounts.cpu) {
            mounts.cpu = mount;
        }
    }
    return mounts;
}

// The tightest limit of a cgroup and its ancestors up to the mount, read by
// limitOf in each of their directories.
unsigned int LimitUpwards(const fs::path& root, const Mount& mount, std::string_view cgroup,
                          unsigned int (*limitOf)(const fs::path&)) {
    // The cgroup's path relative to the mount. A cgroup outside what is
    // mounted (seen from another cgroup namespace) is looked up at the mount
    // point itself, the nearest that is visible.
    std::vector<std::string_view> parts = Split(cgroup, "/");
    const std::vector<std::string_view> mountParts = Split(mount.root, "/");
    const bool below = parts.size() >= mountParts.size() &&
                       std::equal(mountParts.begin(), mountParts.end(), parts.begin()) &&
                       std::find(parts.begin(), parts.end(), "..") == parts.end();
    parts = below ? std::vector<std::string_view>(parts.begin() + mountParts.size(), parts.end())
                  : std::vector<std::string_view>();
    unsigned int limit = 0;
    for (std::size_t depth = 0; depth <= parts.size(); ++depth) {
        fs::path directory = root / fs::path(mount.point).relative_path();
        for (std::size_t index = 0; index < depth; ++index) {
            directory /= std::string(parts[index]);
        }
        limit = Tighter(limit, limitOf(directory));
    }
    return limit;
}

}  // namespace

unsigned int CgroupProcessorLimit(const fs::path& root) {
    const std::optional<std::string> cgroups = ReadSmallFile(root / "proc/self/cgroup");
    if (!cgroups) {
        return 0;
    }
    const Mounts mounts = FindMounts(ReadSmallFile(root / "proc/self/mountinfo"));
    unsigned int limit = 0;
    for (const std::string_view line : Split(*cgroups, "\n")) {
        // HIERARCHY:CONTROLLERS:PATH; version 2 is hierarchy 0 without controllers.
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view hierarchy = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (hierarchy == "0" && controllers.empty() && mounts.unified) {
            limit = Tighter(limit, LimitUpwards(root, *mounts.unified, path, LimitV2));
        } else if (HasItem(controllers, "cpu") && mounts.cpu) {
            limit = Tighter(limit, LimitUpwards(root, *mounts.cpu, path, LimitV1));
        }
    }
    return limit;
}

unsigned int AvailableProcessors() {
    unsigned int processors = AffinityProcessors();
    if (processors == 0) {
        processors = std::thread::hardware_concurrency();
    }
    processors = Tighter(processors, CgroupProcessorLimit("/"));
    return std::max(1u, processors);
}

}  // namespace qiv::redact
