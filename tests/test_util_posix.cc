// Test helpers the POSIX way: mkdtemp, flock, and fork and exec in a new
// session, optionally under a resource limit.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "posix/limited_run.h"
#include "test_util.h"

ScopedTempDir::ScopedTempDir() {
  previous_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "dorvane-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) std::abort();
  path_ = name.data();
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  // Tests take permissions away; give them back so the tree can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

HeldFile::HeldFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  holder_ = fd;
  held_ = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

HeldFile::~HeldFile() {
  if (holder_ >= 0) close(static_cast<int>(holder_));
}

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char** argv, int output, int resource, rlim_t limit,
                           unsigned watchdog) {
  setsid();
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0) _exit(126);
  if (resource >= 0) {
    const rlimit value{limit, limit};
    if (setrlimit(resource, &value) != 0) _exit(126);
  }
  signal(SIGXFSZ, SIG_IGN);
  // A pending alarm survives exec.
  if (watchdog > 0) alarm(watchdog);
  execv(argv[0], argv);
  _exit(127);
}

// In a new session the program has no controlling terminal.
RunResult Run(const std::vector<std::string>& arguments, int resource, rlim_t limit,
              unsigned watchdog) {
  std::vector<std::string> args{DORVANE_BINARY};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {-1, ""};
  const pid_t child = fork();
  if (child == 0) RunChild(argv.data(), pipe_fds[1], resource, limit, watchdog);
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

}  // namespace

RunResult RunDorvane(const std::vector<std::string>& arguments) {
  return Run(arguments, -1, 0, 0);
}

RunResult RunDorvaneLimited(const std::vector<std::string>& arguments,
                            int resource, rlim_t limit) {
  return Run(arguments, resource, limit, WatchdogSeconds);
}
