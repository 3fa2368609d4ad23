// How many processors the tool may use: cgroup CPU quotas read from fake
// /proc and /sys/fs/cgroup trees, and the affinity mask of a narrowed thread.
#include <sched.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Processors.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using qiv::redact::AvailableProcessors;
using qiv::redact::CgroupProcessorLimit;

const std::string hybridMounts =
    "25 1 0:22 / /sys/fs/cgroup ro,nosuid - tmpfs tmpfs ro\n"
    "26 25 0:23 / /sys/fs/cgroup/unified rw,relatime shared:5 - cgroup2 cgroup2 rw\n"
    "28 25 0:25 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:7 - cgroup cgroup "
    "rw,cpu,cpuacct\n"
    "29 25 0:26 / /sys/fs/cgroup/cpuset rw,relatime shared:8 - cgroup cgroup rw,cpuset\n";

TEST(Processors, CgroupLimitFromFakeTrees) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;  // relative to the fake root
        unsigned int limit;
    };
    const Case cases[] = {
        {"v2, no limit anywhere",
         {{"proc/self/cgroup", "0::/app\n"},
          {"sys/fs/cgroup/cpu.max", "max 100000\n"},
          {"sys/fs/cgroup/app/cpu.max", "max 100000\n"}},
         0},
        {"v2, fractional quota rounds up",
         {{"proc/self/cgroup", "0::/app\n"}, {"sys/fs/cgroup/app/cpu.max", "150000 100000\n"}},
         2},
        {"v2, quota below one processor is one",
         {{"proc/self/cgroup", "0::/app\n"}, {"sys/fs/cgroup/app/cpu.max", "10000 100000\n"}},
         1},
        {"v2, exact multiple",
         {{"proc/self/cgroup", "0::/app\n"}, {"sys/fs/cgroup/app/cpu.max", "300000 100000\n"}},
         3},
        {"v2, a parent's tighter limit wins",
         {{"proc/self/cgroup", "0::/a/b/c\n"},
          {"sys/fs/cgroup/a/cpu.max", "200000 100000\n"},
          {"sys/fs/cgroup/a/b/cpu.max", "max 100000\n"},
          {"sys/fs/cgroup/a/b/c/cpu.max", "400000 100000\n"}},
         2},
        {"v2, the leaf's tighter limit wins",
         {{"proc/self/cgroup", "0::/a/b\n"},
          {"sys/fs/cgroup/a/cpu.max", "800000 100000\n"},
          {"sys/fs/cgroup/a/b/cpu.max", "50000 50000\n"}},
         1},
        {"v2, a limit on a cgroup that is not an ancestor is ignored",
         {{"proc/self/cgroup", "0::/a/b\n"}, {"sys/fs/cgroup/a/other/cpu.max", "100000 100000\n"}},
         0},
        {"v2, garbage and half-written files are ignored",
         {{"proc/self/cgroup", "0::/a/b/c/d\n"},
          {"sys/fs/cgroup/a/cpu.max", "lots\n"},
          {"sys/fs/cgroup/a/b/cpu.max", "150000\n"},
          {"sys/fs/cgroup/a/b/c/cpu.max", "-5 100000\n"},
          {"sys/fs/cgroup/a/b/c/d/cpu.max", "200000 0\n"}},
         0},
        {"v2, numbers with trailing junk are garbage",
         {{"proc/self/cgroup", "0::/a\n"}, {"sys/fs/cgroup/a/cpu.max", "200000x 100000\n"}},
         0},
        {"no /proc/self/cgroup", {{"sys/fs/cgroup/cpu.max", "100000 100000\n"}}, 0},
        {"v2, no cpu.max files", {{"proc/self/cgroup", "0::/app\n"}}, 0},
        {"garbage in /proc/self/cgroup",
         {{"proc/self/cgroup", "what\n\n::\n"}, {"sys/fs/cgroup/cpu.max", "100000 100000\n"}},
         0},
        {"v1, quota -1 is no limit",
         {{"proc/self/cgroup", "3:cpu,cpuacct:/job\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "-1\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"}},
         0},
        {"v1, fractional quota and a parent's",
         {{"proc/self/cgroup", "5:cpuset:/\n3:cpu,cpuacct:/job/task\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "250000\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"},
          {"sys/fs/cgroup/cpu/job/task/cpu.cfs_quota_us", "-1\n"},
          {"sys/fs/cgroup/cpu/job/task/cpu.cfs_period_us", "100000\n"}},
         3},
        {"v1, quota without a period is ignored",
         {{"proc/self/cgroup", "3:cpu:/job\n"}, {"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "1\n"}},
         0},
        {"v1 cpuacct alone is not the cpu controller",
         {{"proc/self/cgroup", "2:cpuacct:/job\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "100000\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"}},
         0},
        {"mountinfo: hybrid, v1 cpu mounted as cpu,cpuacct; v2 has no cpu.max",
         {{"proc/self/cgroup", "3:cpu,cpuacct:/job\n0::/job\n"},
          {"proc/self/mountinfo", hybridMounts},
          {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "120000\n"},
          {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "100000\n"},
          {"sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"}},
         2},
        {"mountinfo: v2 mounted elsewhere, path with an escaped blank",
         {{"proc/self/cgroup", "0::/my job\n"},
          {"proc/self/mountinfo", "30 1 0:27 / /mnt/cg\\0402 rw - cgroup2 none rw\n"},
          {"mnt/cg 2/my job/cpu.max", "200000 100000\n"},
          {"sys/fs/cgroup/my job/cpu.max", "100000 100000\n"}},
         2},
        {"mountinfo: the mount shows a cgroup below the root",
         {{"proc/self/cgroup", "0::/outer/inner\n"},
          {"proc/self/mountinfo", "30 1 0:27 /outer /sys/fs/cgroup rw - cgroup2 none rw\n"},
          {"sys/fs/cgroup/cpu.max", "300000 100000\n"},
          {"sys/fs/cgroup/inner/cpu.max", "400000 100000\n"}},
         3},
        {"mountinfo: the cgroup lies outside the mount, the mount point's limit counts",
         {{"proc/self/cgroup", "0::/../elsewhere\n"},
          {"proc/self/mountinfo", "30 1 0:27 / /sys/fs/cgroup rw - cgroup2 none rw\n"},
          {"sys/fs/cgroup/cpu.max", "100000 100000\n"}},
         1},
        {"mountinfo without cgroup mounts: nothing to read",
         {{"proc/self/cgroup", "0::/app\n"},
          {"proc/self/mountinfo", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"},
          {"sys/fs/cgroup/app/cpu.max", "100000 100000\n"}},
         0},
        {"v1 and v2 both limited: the smaller",
         {{"proc/self/cgroup", "4:cpu:/a\n0::/b\n"},
          {"sys/fs/cgroup/cpu/a/cpu.cfs_quota_us", "300000\n"},
          {"sys/fs/cgroup/cpu/a/cpu.cfs_period_us", "100000\n"},
          {"sys/fs/cgroup/b/cpu.max", "200000 100000\n"}},
         2},
    };
    for (const Case& c : cases) {
        const qiv::test::TempDir root;
        for (const auto& [name, content] : c.files) {
            fs::create_directories((root.Path() / name).parent_path());
            std::ofstream(root.Path() / name, std::ios::binary) << content;
        }
        EXPECT_EQ(CgroupProcessorLimit(root.Path()), c.limit) << c.what;
    }
}

// A thread narrowed to one CPU sees one processor; the process as a whole sees
// its whole mask, within the cgroup's limit.
TEST(Processors, FollowAffinity) {
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    const unsigned int limit = CgroupProcessorLimit("/");
    const auto expected = [limit](unsigned int cpus) {
        return limit != 0 && limit < cpus ? limit : cpus;
    };
    EXPECT_EQ(AvailableProcessors(), expected(static_cast<unsigned int>(CPU_COUNT(&all))));

    int first = 0;
    while (!CPU_ISSET(first, &all)) {
        ++first;
    }
    unsigned int narrowed = 0;
    std::thread([&]() {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        if (::sched_setaffinity(0, sizeof one, &one) == 0) {
            narrowed = AvailableProcessors();
        }
    }).join();
    EXPECT_EQ(narrowed, 1u);
}

}  // namespace
