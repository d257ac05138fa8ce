// Internal: how many CPUs this process may really use, from its CPU affinity
// and its cgroup's CPU quota. hardware_concurrency() counts the machine's
// CPUs, which in a container or under taskset may be far more than it gets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirtolk::cpus {

// The CPUs a cgroup v2 `cpu.max` text ("QUOTA PERIOD") allows, rounded up;
// none for "max" (no quota) or a text that is not a quota.
std::optional<unsigned> QuotaCpus(std::string_view cpu_max);

// The cgroup v2 directories whose `cpu.max` bound this process, its own group
// first and then each parent up to the hierarchy's mount point, from the texts
// of /proc/self/cgroup and /proc/self/mountinfo. Empty without cgroup v2.
std::vector<std::string> QuotaDirs(std::string_view proc_cgroup, std::string_view mountinfo);

// Threads for `allowed` CPUs under the quotas in `cpu_max_texts` (any may be
// empty or "max"): the smallest bound, at least 1 and at most `cap`. With
// nothing known (allowed 0), one thread: the safe guess.
unsigned ThreadsFor(unsigned allowed, const std::vector<std::string>& cpu_max_texts, unsigned cap);

// The CPUs the calling thread may run on; 0 when that cannot be told.
unsigned AffinityCpus();

// The cpu.max texts of QuotaDirs for this process, as they read now.
std::vector<std::string> ProcessQuotaTexts();

}  // namespace mirtolk::cpus
