// What opening a file to read costs when its name is first resolved with
// O_PATH, its type checked with fstat and the file reopened through /proc,
// against a plain open and fstat of the name, on many tiny files; what the
// fstat after the last read adds to a small file's whole cycle, and what
// fstat as its own system call and one close_range for both descriptors
// would take off it. (The program keeps neither: the first saves nothing
// measurable on a kernel with the AT_EMPTY_PATH fast path, and with many
// lanes open the two descriptors of a file are seldom neighbours.) Prints
// processor nanoseconds per file for each, best of several rounds on a
// warm cache, and their ratio. Linux only.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int FileCount = 10000;
constexpr int Rounds = 15;

// The open the program made before: the name opened at once, non-blocking
// in case it is a FIFO, and its type checked after the fact.
bool PlainOpen(const char* name) {
  const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat info;
  const bool ok = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (fd >= 0) close(fd);
  return ok;
}

// The open it makes now: nothing but a regular file is ever opened.
bool CheckedOpen(const char* name) {
  const int at = open(name, O_PATH | O_CLOEXEC);
  struct stat info;
  if (at < 0 || fstat(at, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (at >= 0) close(at);
    return false;
  }
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", at);
  const int fd = open(link, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  close(at);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// As CheckedOpen, through /proc/self/fd opened once (the program does not:
// it would hold one more descriptor for the whole run).
int proc_fds = -1;
bool CheckedOpenAt(const char* name) {
  const int at = open(name, O_PATH | O_CLOEXEC);
  struct stat info;
  if (at < 0 || fstat(at, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (at >= 0) close(at);
    return false;
  }
  char link[16];
  std::snprintf(link, sizeof link, "%d", at);
  const int fd = openat(proc_fds, link, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  close(at);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// The ways the cycle below can spend its system calls.
constexpr unsigned Confirm = 1;     // one more fstat after the read
constexpr unsigned RawFstat = 2;    // fstat itself, not glibc's fstatat(AT_EMPTY_PATH)
constexpr unsigned CloseRange = 4;  // both descriptors in one close_range

int StatOf(int fd, struct stat* info, unsigned ways) {
#if defined(__x86_64__)
  if (ways & RawFstat) return static_cast<int>(syscall(SYS_fstat, fd, info));
#endif
  return fstat(fd, info);
}

// A small file's whole cycle as the hashing goes through it: the checked
// open, its lock, one read that meets the end, the closes; with Confirm,
// one more fstat after the read, which is the only proof that the file did
// not change while it was read (the read's end tells no size).
bool Cycle(const char* name, unsigned ways) {
  const int at = open(name, O_PATH | O_CLOEXEC);
  struct stat info;
  if (at < 0 || StatOf(at, &info, ways) != 0 || !S_ISREG(info.st_mode)) return false;
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", at);
  const int fd = open(link, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  const bool pair = (ways & CloseRange) != 0 && fd == at + 1;
  if (!pair) close(at);
  char buffer[4096];
  struct stat after;
  const bool ok = fd >= 0 && flock(fd, LOCK_SH | LOCK_NB) == 0 &&
                  pread(fd, buffer, sizeof buffer, 0) == info.st_size &&
                  ((ways & Confirm) == 0 ||
                   (StatOf(fd, &after, ways) == 0 && after.st_size == info.st_size));
  if (pair) {
    syscall(SYS_close_range, at, fd, 0);
  } else if (fd >= 0) {
    close(fd);
  }
  return ok;
}
bool CycleUnconfirmed(const char* name) { return Cycle(name, 0); }
bool CycleConfirmed(const char* name) { return Cycle(name, Confirm); }
bool CycleRawFstat(const char* name) { return Cycle(name, Confirm | RawFstat); }
bool CycleCloseRange(const char* name) { return Cycle(name, Confirm | CloseRange); }
bool CycleBoth(const char* name) { return Cycle(name, Confirm | RawFstat | CloseRange); }

// Processor time (user and system) per file of one pass over names, in
// nanoseconds: on a shared machine the time others take does not count.
double PerFile(bool (*open_one)(const char*), const std::vector<std::string>& names) {
  timespec start, end;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
  for (const std::string& name : names) {
    if (!open_one(name.c_str())) std::abort();
  }
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
  return ((end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec)) / names.size();
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / "dorvane-open-bench";
  std::filesystem::remove_all(dir);
  std::vector<std::string> names;
  for (int i = 0; i < FileCount; ++i) {
    const auto sub = dir / std::to_string(i / 200);
    std::filesystem::create_directories(sub);
    names.push_back((sub / std::string("f").append(std::to_string(i))).string());
    std::FILE* out = std::fopen(names.back().c_str(), "wb");
    if (out == nullptr) return 1;
    std::fputs("abc", out);
    std::fclose(out);
  }
  proc_fds = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
  // Rounds taken in turn, so that a busy moment of the machine falls on all.
  bool (*const ways[])(const char*) = {PlainOpen,        CheckedOpen,     CheckedOpenAt,
                                        CycleUnconfirmed, CycleConfirmed,  CycleRawFstat,
                                        CycleCloseRange,  CycleBoth};
  constexpr int Ways = sizeof ways / sizeof ways[0];
  double best[Ways];
  for (double& each : best) each = 1e30;
  for (int round = 0; round < Rounds; ++round) {
    for (int way = 0; way < Ways; ++way) {
      const double took = PerFile(ways[way], names);
      if (took < best[way]) best[way] = took;
    }
  }
  std::printf("%d tiny files, processor time, best of %d rounds\n", FileCount, Rounds);
  std::printf("plain open + fstat                   %7.0f ns/file\n", best[0]);
  std::printf("O_PATH + fstat + reopen /proc/self   %7.0f ns/file\n", best[1]);
  std::printf("the same, /proc/self/fd held open    %7.0f ns/file\n", best[2]);
  std::printf("ratio %.2f (%+.0f ns/file); held open %.2f (%+.0f ns/file)\n", best[1] / best[0],
              best[1] - best[0], best[2] / best[0], best[2] - best[0]);
  std::printf("cycle: checked open, flock, pread, close %7.0f ns/file\n", best[3]);
  std::printf("the same, fstat after the read         %7.0f ns/file (%+.0f ns, %.2f)\n", best[4],
              best[4] - best[3], best[4] / best[3]);
  const char* const variants[] = {"fstat as a system call of its own     ",
                                  "both closes in one close_range        ",
                                  "both                                  "};
  for (int i = 0; i < 3; ++i) {
    std::printf("%s %7.0f ns/file (%+.0f ns, %.2f)\n", variants[i], best[5 + i],
                best[5 + i] - best[4], best[5 + i] / best[4]);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
