// Running the built program under resource limits and in odd process states
// (POSIX only); made in test_util_posix.cc beside RunDorvane.
#ifndef DORVANE_TESTS_POSIX_LIMITED_RUN_H_
#define DORVANE_TESTS_POSIX_LIMITED_RUN_H_

#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_util.h"

constexpr unsigned WatchdogSeconds = 120;

// Sets a variable of the environment the program inherits, for the life
// of the object, then puts back what was there (a CI stage may have set
// it for the whole suite).
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// How the child is set up before it runs the program. SIGXFSZ is left at
// its default, as a shell leaves it: the program must ignore it itself.
struct ChildSetup {
  int resource = -1;  // a resource whose soft and hard limit is set; -1 none
  rlim_t limit = 0;
  unsigned closed = 0;            // bit n set: descriptor n closed
  const char* output = nullptr;   // standard output to this file, not collected
  const char* errors = nullptr;   // standard error to this file
  long kill_at_list_offset = -1;  // killed by its first pwrite at or past it
  long fail_reads_at = -1;        // every pread at or past it fails (EIO)
  long kill_at_call = -1;         // killed by its first call of this number
  long kill_after_us = -1;        // killed this long after it started
  bool refuse_unnamed_files = false;  // O_TMPFILE fails as on file systems without it
  unsigned watchdog = WatchdogSeconds;  // a run that blocks is killed then
  bool as_nobody = false;  // run as user and group 65534 when started as root
};

// Like RunDorvane (new session, standard input from /dev/null, standard
// output collected) in a child set up as given. A run that does not end by
// exit (killed, or stopped by the watchdog) reports exit code -1.
RunResult RunDorvaneWith(const std::vector<std::string>& arguments,
                         const ChildSetup& setup);
// RunDorvaneWith under the limit of resource (-1: none).
RunResult RunDorvaneLimited(const std::vector<std::string>& arguments,
                            int resource, rlim_t limit);

// Installs a seccomp filter in the calling process (a child after fork):
// system call nr gets action, a SECCOMP_RET_* value, when the low word of
// its argument arg is at least at_least (any nr call by default).
void FilterSystemCall(long nr, std::uint32_t action, int arg = 0,
                      std::uint32_t at_least = 0);

#endif  // DORVANE_TESTS_POSIX_LIMITED_RUN_H_
