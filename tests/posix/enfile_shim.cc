// Preloaded into the program by tests: fails its opens of files or of
// directories with ENFILE, as a system whose file table is full for a
// moment would. DORVANE_ENFILE="files", "directories" or "lists", a
// percentage and a seed ("files 30 7"): each such open fails with that
// chance, drawn from a sequence fixed by the seed. The list's opens (a
// name ending in ".lst", its new version made with O_TMPFILE) fail only
// for "lists", and the list's directory never (the walk opens directories
// with openat and openat2, never with open); nor does reopening through
// /proc.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Plan {
  bool directories = false;
  bool lists = false;
  unsigned percent = 0;
  unsigned long seed = 0;
};

const Plan& ThePlan() {
  static const Plan plan = [] {
    Plan made;
    char kind[16] = "";
    const char* text = std::getenv("DORVANE_ENFILE");
    if (text != nullptr && std::sscanf(text, "%15s %u %lu", kind, &made.percent, &made.seed) == 3) {
      made.directories = std::strcmp(kind, "directories") == 0;
      made.lists = std::strcmp(kind, "lists") == 0;
    }
    return made;
  }();
  return plan;
}

std::atomic<unsigned long> draws{0};

// Whether this open fails; sets errno when it does.
bool Fails(const char* path, long flags, const char* call = "openat") {
  const Plan& plan = ThePlan();
  const std::size_t length = path == nullptr ? 0 : std::strlen(path);
  const bool list = (length > 4 && std::strcmp(path + length - 4, ".lst") == 0) ||
                    (flags & O_TMPFILE) == O_TMPFILE;
  if (plan.percent == 0 || length == 0 || std::strncmp(path, "/proc/", 6) == 0 ||
      list != plan.lists) {
    return false;
  }
  if (!list && (((flags & O_DIRECTORY) != 0 && std::strncmp(call, "openat", 6) != 0) ||
                ((flags & O_DIRECTORY) != 0) != plan.directories)) {
    return false;
  }
  // splitmix64 of the seed and the number of the draw.
  unsigned long long x = plan.seed * 0x9E3779B97F4A7C15ull + draws.fetch_add(1);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  if ((x ^ (x >> 31)) % 100 >= plan.percent) return false;
  errno = ENFILE;
  return true;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// Each open passes on what it was given; the mode is read whatever the
// flags, as passing it on unused does no harm.
#define FAILING_OPEN(name, parameters, arguments)  \
  int name parameters {                             \
    va_list args;                                   \
    va_start(args, flags);                          \
    const mode_t mode = va_arg(args, mode_t);       \
    va_end(args);                                   \
    if (Fails(path, flags, #name)) return -1;       \
    return Next<decltype(&name)>(#name) arguments;  \
  }

extern "C" {

FAILING_OPEN(open, (const char* path, int flags, ...), (path, flags, mode))
FAILING_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode))
FAILING_OPEN(openat, (int at, const char* path, int flags, ...), (at, path, flags, mode))
FAILING_OPEN(openat64, (int at, const char* path, int flags, ...), (at, path, flags, mode))

long syscall(long number, ...) {
  va_list args;
  va_start(args, number);
  long a[6];
  for (long& arg : a) arg = va_arg(args, long);
  va_end(args);
  if (number == SYS_openat2) {
    const auto* how = reinterpret_cast<const open_how*>(a[2]);
    if (Fails(reinterpret_cast<const char*>(a[1]), static_cast<long>(how->flags))) return -1;
  }
  return Next<long (*)(long, ...)>("syscall")(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

}  // extern "C"
