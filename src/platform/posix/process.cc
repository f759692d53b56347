// POSIX start-up of the process: standard descriptors and signals.
// Assumes POSIX.1 (fcntl, open, signal; SIGXFSZ from its XSI part); the
// processor count reads Linux's affinity call and cgroup files, and falls
// back to the online processors elsewhere.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/process.h"

void PrepareProcess(int*, char***) {
  // An open takes the lowest free number; filling the holes in order makes
  // each /dev/null land on the number that was closed. Should /dev/null be
  // missing, the hole stays: nothing better can be put there.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  signal(SIGXFSZ, SIG_IGN);
}

namespace {

// The processors a cgroup CPU quota pays for, rounded up; 0 when no quota
// is set or none can be read. cgroup v2 first ("max" means none), then v1.
unsigned CountQuotaProcessors() {
  long long quota = 0;
  long long period = 0;
  if (FILE* file = std::fopen("/sys/fs/cgroup/cpu.max", "r")) {
    const int got = std::fscanf(file, "%lld %lld", &quota, &period);
    std::fclose(file);
    if (got != 2) return 0;
  } else {
    FILE* quota_file = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "r");
    FILE* period_file = std::fopen("/sys/fs/cgroup/cpu/cpu.cfs_period_us", "r");
    const bool read = quota_file != nullptr && period_file != nullptr &&
                      std::fscanf(quota_file, "%lld", &quota) == 1 &&
                      std::fscanf(period_file, "%lld", &period) == 1;
    if (quota_file != nullptr) std::fclose(quota_file);
    if (period_file != nullptr) std::fclose(period_file);
    if (!read) return 0;
  }
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<unsigned>((quota + period - 1) / period);
}

}  // namespace

unsigned CountUsableProcessors() {
  long count = 0;
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
#endif
  if (count <= 0) count = sysconf(_SC_NPROCESSORS_ONLN);
  if (count <= 0) count = 1;
  const unsigned quota = CountQuotaProcessors();
  if (quota > 0 && quota < static_cast<unsigned>(count)) return quota;
  return static_cast<unsigned>(count);
}

bool IsPlatformHelpSwitch(const char*) { return false; }

const char* ManualLocation() { return "The manual: man dorvane"; }
