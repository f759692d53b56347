// Running the built program under resource limits (POSIX only).
#include "posix/limited_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char** argv, int output, int resource, rlim_t limit) {
  setsid();
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0) _exit(126);
  if (resource >= 0) {
    const rlimit value{limit, limit};
    if (setrlimit(resource, &value) != 0) _exit(126);
  }
  signal(SIGXFSZ, SIG_IGN);
  // A pending alarm survives exec.
  alarm(WatchdogSeconds);
  execv(argv[0], argv);
  _exit(127);
}

RunResult RunDorvaneLimited(const std::vector<std::string>& arguments,
                            int resource, rlim_t limit) {
  std::vector<std::string> args{DORVANE_BINARY};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {-1, ""};
  const pid_t child = fork();
  if (child == 0) RunChild(argv.data(), pipe_fds[1], resource, limit);
  close(pipe_fds[1]);
  RunResult result{-1, ""};
  char buffer[4096];
  for (ssize_t got; (got = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  return result;
}
