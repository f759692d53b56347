// POSIX start-up of the process: standard descriptors and signals.
// Assumes POSIX.1 only (fcntl, open, signal; SIGXFSZ from its XSI part).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

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
