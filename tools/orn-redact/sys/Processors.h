#pragma once

#include <filesystem>

namespace qiv::redact {

/// How many processors this process may keep busy: the CPUs in its affinity
/// mask, further limited by the CPU quota of its cgroup and of every cgroup
/// above it (a quota of 1.5 processors counts as 2). At least 1; the machine's
/// processor count when the affinity mask cannot be read.
unsigned int AvailableProcessors();

/// The smallest CPU quota, rounded up to whole processors, of this process's
/// cgroups (version 2, and version 1's cpu controller) and their ancestors;
/// 0 when none is set or none can be read. root stands for "/": the files read
/// are root/proc/self/cgroup, root/proc/self/mountinfo and those below the
/// cgroup mounts it names (a fake tree in tests, "/" otherwise).
unsigned int CgroupProcessorLimit(const std::filesystem::path& root);

}  // namespace qiv::redact
