#include "granted_cpus.hpp"

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <thread>

namespace mirtolk::cpus {
namespace {

std::vector<std::string_view> Split(std::string_view text, char by) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(by, at);
    parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

std::optional<std::uint64_t> Whole(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const auto code = [&](std::size_t k) { return field[i + k] - '0'; };
      if (code(1) >= 0 && code(1) <= 3 && code(2) >= 0 && code(2) <= 7 && code(3) >= 0 && code(3) <= 7) {
        out += static_cast<char>(code(1) * 64 + code(2) * 8 + code(3));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

#if defined(__linux__)
std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
#endif

}  // namespace

std::optional<unsigned> QuotaCpus(std::string_view cpu_max) {
  while (!cpu_max.empty() && (cpu_max.back() == '\n' || cpu_max.back() == ' ')) cpu_max.remove_suffix(1);
  const std::vector<std::string_view> fields = Split(cpu_max, ' ');
  if (fields.size() != 2) return std::nullopt;
  const auto quota = Whole(fields[0]);
  const auto period = Whole(fields[1]);
  if (!quota || !period || *quota == 0 || *period == 0) return std::nullopt;
  const std::uint64_t cpus = (*quota - 1) / *period + 1;
  return static_cast<unsigned>(std::min<std::uint64_t>(cpus, 1u << 20));
}

std::vector<std::string> QuotaDirs(std::string_view proc_cgroup, std::string_view mountinfo) {
  // The unified hierarchy's line is "0::PATH".
  std::optional<std::string_view> group;
  for (std::string_view line : Split(proc_cgroup, '\n')) {
    if (line.substr(0, 3) == "0::") group = line.substr(3);
  }
  if (!group || group->empty() || group->front() != '/') return {};

  // "ID PARENT MAJOR:MINOR ROOT MOUNT_POINT OPTIONS [OPTIONAL...] - TYPE SOURCE OPTIONS"
  std::optional<std::string> root, mount_point;
  for (std::string_view line : Split(mountinfo, '\n')) {
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    const std::vector<std::string_view> after = Split(line.substr(dash + 3), ' ');
    const std::vector<std::string_view> before = Split(line.substr(0, dash), ' ');
    if (after.empty() || after[0] != "cgroup2" || before.size() < 5) continue;
    root = Unescape(before[3]);
    mount_point = Unescape(before[4]);
    break;
  }
  if (!mount_point) return {};

  // The group's path is in the whole hierarchy; the mount shows the part of it
  // under `root`. A group outside that part (another cgroup namespace's view)
  // can only be bounded at the mount point.
  std::string relative;
  if (*root == "/") {
    relative = std::string(*group);
  } else if (group->substr(0, root->size()) == *root &&
             (group->size() == root->size() || (*group)[root->size()] == '/')) {
    relative = std::string(group->substr(root->size()));
  }
  if (relative.find("/..") != std::string::npos) relative.clear();
  while (!relative.empty() && relative.back() == '/') relative.pop_back();

  std::string top = *mount_point;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  std::vector<std::string> dirs;
  for (;;) {
    dirs.push_back(top + relative);
    if (relative.empty()) return dirs;
    relative.erase(relative.rfind('/'));
  }
}

unsigned ThreadsFor(unsigned allowed, const std::vector<std::string>& cpu_max_texts, unsigned cap) {
  unsigned threads = std::min(allowed, cap);
  for (const std::string& text : cpu_max_texts) {
    if (const auto quota = QuotaCpus(text)) threads = std::min(threads, *quota);
  }
  return std::max(threads, 1u);
}

unsigned AffinityCpus() {
#if defined(__linux__) && defined(CPU_ALLOC)
  // A fixed cpu_set_t holds 1024 CPUs; larger machines need a larger mask,
  // and the kernel says EINVAL until it is large enough.
  for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
    cpu_set_t* const set = CPU_ALLOC(cpus);
    if (set == nullptr) break;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    const int got = sched_getaffinity(0, size, set);
    const int count = got == 0 ? CPU_COUNT_S(size, set) : 0;
    CPU_FREE(set);
    if (got == 0) return static_cast<unsigned>(count);
    if (errno != EINVAL) break;
  }
#endif
  return std::thread::hardware_concurrency();
}

std::vector<std::string> ProcessQuotaTexts() {
  std::vector<std::string> texts;
#if defined(__linux__)
  for (const std::string& dir : QuotaDirs(ReadFile("/proc/self/cgroup"), ReadFile("/proc/self/mountinfo"))) {
    texts.push_back(ReadFile(dir + "/cpu.max"));
  }
#endif
  return texts;
}

}  // namespace mirtolk::cpus
