// Running the built program under resource limits (POSIX only); made in
// test_util_posix.cc beside RunDorvane.
#ifndef DORVANE_TESTS_POSIX_LIMITED_RUN_H_
#define DORVANE_TESTS_POSIX_LIMITED_RUN_H_

#include <sys/resource.h>

#include <string>
#include <vector>

#include "test_util.h"

// Like RunDorvane (new session, standard input from /dev/null, standard
// output collected), with the soft and hard limit of resource set to limit
// in the child before it runs the program, SIGXFSZ ignored so that a write
// past RLIMIT_FSIZE fails instead of killing it, and an alarm of
// WatchdogSeconds: a run that blocks is killed and reported as exit code -1
// instead of hanging the suite. resource -1 sets no limit.
constexpr unsigned WatchdogSeconds = 120;
RunResult RunDorvaneLimited(const std::vector<std::string>& arguments,
                            int resource, rlim_t limit);

#endif  // DORVANE_TESTS_POSIX_LIMITED_RUN_H_
