// Test helpers the POSIX way: mkdtemp, flock, and fork and exec in a new
// session, optionally under a resource limit or a seccomp filter.
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "posix/limited_run.h"
#include "test_util.h"

std::filesystem::path NativePath(const std::string& name) { return name; }
std::filesystem::path ExactPath(const std::string& name) { return name; }

bool LegacyCodePageIsWindows1252() { return true; }

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

void FilterSystemCall(long nr, std::uint32_t action, int arg, std::uint32_t at_least) {
  // The argument's low word (little-endian, as on the machines this runs on).
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * arg)),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, at_least, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, action),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog filter{sizeof program / sizeof program[0], program};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
    _exit(126);
  }
}

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char** argv, int output, const ChildSetup& setup) {
  setsid();
  const int input = open("/dev/null", O_RDONLY);
  if (setup.output != nullptr) output = open(setup.output, O_WRONLY);
  if (input < 0 || output < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0) _exit(126);
  if (setup.errors != nullptr && dup2(open(setup.errors, O_WRONLY | O_APPEND), 2) < 0) _exit(126);
  // The program gets descriptors 0 to 2 and nothing else (ctest may leave
  // some open), so that a limit on descriptors counts only its own.
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  if (setup.resource >= 0) {
    const rlimit value{setup.limit, setup.limit};
    if (setrlimit(setup.resource, &value) != 0) _exit(126);
  }
  signal(SIGXFSZ, SIG_DFL);
  for (int fd = 0; fd <= 2; ++fd) {
    if ((setup.closed >> fd & 1) != 0) close(fd);
  }
  if (setup.fail_reads_at >= 0) {
    FilterSystemCall(SYS_pread64, SECCOMP_RET_ERRNO | EIO, 3,
                     static_cast<std::uint32_t>(setup.fail_reads_at));
  }
  if (setup.kill_at_call >= 0) FilterSystemCall(setup.kill_at_call, SECCOMP_RET_KILL_PROCESS);
  // No other open's flags reach O_TMPFILE's high bit.
  if (setup.refuse_unnamed_files) {
    FilterSystemCall(SYS_openat, SECCOMP_RET_ERRNO | EOPNOTSUPP, 2, O_TMPFILE & ~O_DIRECTORY);
  }
  if (setup.kill_at_list_offset >= 0) {
    FilterSystemCall(SYS_pwrite64, SECCOMP_RET_KILL_PROCESS, 3,
                     static_cast<std::uint32_t>(setup.kill_at_list_offset));
  }
  // Root reads everything; as nobody, permissions bind as for a user.
  if (setup.as_nobody && geteuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
    _exit(126);
  }
  // A pending alarm survives exec.
  if (setup.watchdog > 0) alarm(setup.watchdog);
  execv(argv[0], argv);
  _exit(127);
}

}  // namespace

// In a new session the program has no controlling terminal.
RunResult RunDorvaneWith(const std::vector<std::string>& arguments,
                         const ChildSetup& setup) {
  std::vector<std::string> args{DORVANE_BINARY};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {-1, ""};
  const pid_t child = fork();
  if (child == 0) RunChild(argv.data(), pipe_fds[1], setup);
  close(pipe_fds[1]);
  RunResult result{-1, ""};
  char buffer[4096];
  // The kill comes before the child is reaped, so it cannot hit another
  // process that took its number.
  std::thread killer;
  if (setup.kill_after_us >= 0) {
    killer = std::thread([child, &setup] {
      std::this_thread::sleep_for(std::chrono::microseconds(setup.kill_after_us));
      kill(child, SIGKILL);
    });
  }
  for (ssize_t got; (got = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  int status = 0;
  if (killer.joinable()) killer.join();
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  return result;
}

RunResult RunDorvane(const std::vector<std::string>& arguments) {
  return RunDorvaneWith(arguments, {.watchdog = 0});
}

RunResult RunDorvaneLimited(const std::vector<std::string>& arguments,
                            int resource, rlim_t limit) {
  return RunDorvaneWith(arguments, {.resource = resource, .limit = limit});
}

void DropCachedPages(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

ScopedVariable::ScopedVariable(const char* name, const std::string& value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedVariable::~ScopedVariable() {
  if (had_) {
    setenv(name_, old_.c_str(), 1);
  } else {
    unsetenv(name_);
  }
}
