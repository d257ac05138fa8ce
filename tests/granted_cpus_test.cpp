#include "granted_cpus.hpp"

#include <gtest/gtest.h>
#include <sched.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "build_paths.hpp"

namespace mirtolk::cpus {
namespace {

struct QuotaCase {
  const char* cpu_max;
  std::optional<unsigned> cpus;
};

class Quota : public ::testing::TestWithParam<QuotaCase> {};

TEST_P(Quota, IsRoundedUpOrNone) { EXPECT_EQ(QuotaCpus(GetParam().cpu_max), GetParam().cpus); }

INSTANTIATE_TEST_SUITE_P(
    CpuMax, Quota,
    ::testing::Values(QuotaCase{"max 100000\n", std::nullopt}, QuotaCase{"100000 100000\n", 1u},
                      QuotaCase{"150000 100000\n", 2u}, QuotaCase{"50000 100000", 1u},
                      QuotaCase{"800000 100000\n", 8u}, QuotaCase{"100001 100000\n", 2u},
                      QuotaCase{"18446744073709551615 1\n", 1u << 20},
                      QuotaCase{"", std::nullopt}, QuotaCase{"100000", std::nullopt},
                      QuotaCase{"0 100000", std::nullopt}, QuotaCase{"100000 0", std::nullopt},
                      QuotaCase{"-1 100000", std::nullopt}, QuotaCase{"1e5 100000", std::nullopt}));

struct DirsCase {
  const char* name;
  const char* proc_cgroup;
  const char* mountinfo;
  std::vector<std::string> dirs;
};

class Dirs : public ::testing::TestWithParam<DirsCase> {};

TEST_P(Dirs, RunFromOwnGroupToMountPoint) {
  EXPECT_EQ(QuotaDirs(GetParam().proc_cgroup, GetParam().mountinfo), GetParam().dirs);
}

constexpr const char* kUnifiedMounts =
    "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "25 21 0:23 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n";

INSTANTIATE_TEST_SUITE_P(
    Hierarchies, Dirs,
    ::testing::Values(
        DirsCase{"systemd_session", "0::/user.slice/user-1000.slice/session-2.scope\n", kUnifiedMounts,
                 {"/sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope",
                  "/sys/fs/cgroup/user.slice/user-1000.slice", "/sys/fs/cgroup/user.slice",
                  "/sys/fs/cgroup"}},
        DirsCase{"container_namespace", "0::/\n", kUnifiedMounts, {"/sys/fs/cgroup"}},
        DirsCase{"hybrid_v1_and_v2",
                 "4:memory:/a\n1:cpu:/\n0::/\n",
                 "30 25 0:26 / /sys/fs/cgroup/unified rw,nosuid - cgroup2 cgroup2 rw\n"
                 "31 25 0:27 / /sys/fs/cgroup/cpu rw,nosuid - cgroup cgroup rw,cpu\n",
                 {"/sys/fs/cgroup/unified"}},
        DirsCase{"mount_of_a_subtree", "0::/docker/abc/worker\n",
                 "40 30 0:30 /docker/abc /sys/fs/cgroup ro,nosuid - cgroup2 cgroup rw\n",
                 {"/sys/fs/cgroup/worker", "/sys/fs/cgroup"}},
        DirsCase{"group_outside_the_mount", "0::/other\n",
                 "40 30 0:30 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n", {"/sys/fs/cgroup"}},
        DirsCase{"escaped_mount_point", "0::/g\n",
                 "40 30 0:30 / /mnt/cg\\040two rw - cgroup2 cgroup2 rw\n", {"/mnt/cg two/g", "/mnt/cg two"}},
        DirsCase{"v1_only", "4:memory:/a\n1:cpu,cpuacct:/\n", kUnifiedMounts, {}},
        DirsCase{"no_cgroup2_mount", "0::/a\n",
                 "22 1 0:21 / /proc rw - proc proc rw\n", {}}),
    [](const ::testing::TestParamInfo<DirsCase>& info) { return std::string(info.param.name); });

struct ThreadsCase {
  unsigned allowed;
  std::vector<std::string> cpu_max;
  unsigned threads;
};

class Threads : public ::testing::TestWithParam<ThreadsCase> {};

TEST_P(Threads, TakeTheSmallestBound) {
  EXPECT_EQ(ThreadsFor(GetParam().allowed, GetParam().cpu_max, 8), GetParam().threads);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, Threads,
    ::testing::Values(ThreadsCase{2, {}, 2}, ThreadsCase{64, {}, 8}, ThreadsCase{1, {}, 1},
                      ThreadsCase{0, {}, 1},  // nothing known of the CPUs: one thread
                      ThreadsCase{64, {"100000 100000\n"}, 1},
                      ThreadsCase{64, {"max 100000\n", "250000 100000\n", ""}, 3},
                      ThreadsCase{2, {"800000 100000\n"}, 2},
                      ThreadsCase{64, {"50000 100000\n", "max 100000\n"}, 1}));

// The count follows the calling thread's affinity as it is now: on one CPU, as
// under `taskset -c 0`, the build runs one thread.
TEST(DefaultBuildThreads, FollowsARestrictedAffinity) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int first = 0;
  while (!CPU_ISSET(first, &allowed)) ++first;

  unsigned on_one_cpu = 0;
  std::thread([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    on_one_cpu = DefaultBuildThreads();
  }).join();
  EXPECT_EQ(on_one_cpu, 1u);
}

}  // namespace
}  // namespace mirtolk::cpus
