// POSIX implementation of the console: standard output as a text stream,
// the key wait read from the controlling terminal, and the status line on
// standard error.
// Assumes POSIX.1-2008 with job control (a controlling terminal reached as
// /dev/tty, process groups, termios); nothing in it is Linux's own.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"

namespace {

// How long the rest of an escape sequence or of a multi-byte character may
// take to follow its first byte.
constexpr int SequenceWaitMs = 30;

// The signals whose default action ends the program and that a user, the
// terminal or another program may send while the program waits.
constexpr int EndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGALRM,
                                 SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};
constexpr int EndingSignalCount = sizeof EndingSignals / sizeof EndingSignals[0];

// The terminal's mode as the wait found it, and the descriptor to put it
// back through. It is the one piece of state the signal handlers need (a
// handler is handed nothing but the signal), hence global; it is set before
// the handlers are installed and they are removed before it goes stale.
struct SavedTerminal {
  int fd;
  termios mode;
};
SavedTerminal saved_terminal;

// Puts the terminal back as it was, then ends the program the way the
// signal would have ended it. Only async-signal-safe calls.
void RestoreTerminalAndEnd(int signal_number) {
  tcsetattr(saved_terminal.fd, TCSANOW, &saved_terminal.mode);
  signal(signal_number, SIG_DFL);
  // Blocked until the handler returns, then delivered with its default.
  raise(signal_number);
}

// Catches the ending signals that are not ignored (a signal the program was
// started with ignored, such as SIGINT of a background job, stays ignored).
void CatchEndingSignals(struct sigaction* previous) {
  struct sigaction action = {};
  action.sa_handler = RestoreTerminalAndEnd;
  sigemptyset(&action.sa_mask);
  for (int signal_number : EndingSignals) sigaddset(&action.sa_mask, signal_number);
  // A wait moved to the background meanwhile may still put the mode back.
  sigaddset(&action.sa_mask, SIGTTOU);
  for (int i = 0; i < EndingSignalCount; ++i) {
    sigaction(EndingSignals[i], nullptr, &previous[i]);
    if (previous[i].sa_handler != SIG_IGN) sigaction(EndingSignals[i], &action, nullptr);
  }
}

void RestoreSignals(const struct sigaction* previous) {
  for (int i = 0; i < EndingSignalCount; ++i) sigaction(EndingSignals[i], &previous[i], nullptr);
}

// Without echo, line editing or signal keys (so Ctrl+C is a key). TCSANOW
// keeps what was typed ahead.
bool SetRawMode(int fd, const termios& saved) {
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &raw) == 0;
}

// Waits for a byte up to timeout_ms (for ever when negative). Returns 0 at
// the end of the terminal's input (a hang-up) or on an error.
int ReadByteWithin(int fd, int timeout_ms, unsigned char* byte) {
  pollfd wait = {fd, POLLIN, 0};
  if (timeout_ms >= 0 && poll(&wait, 1, timeout_ms) <= 0) return 0;
  for (;;) {
    const ssize_t got = read(fd, byte, 1);
    if (got == 1) return 1;
    if (got < 0 && errno == EINTR) continue;
    return 0;
  }
}

// Takes the rest of "ESC [ ... final" or "ESC O final"; a lone ESC is the
// Escape key, and ESC with another byte (Alt and a key) takes that byte.
void SkipEscapeSequence(int fd) {
  unsigned char byte;
  if (!ReadByteWithin(fd, SequenceWaitMs, &byte) || (byte != '[' && byte != 'O')) return;
  while (ReadByteWithin(fd, SequenceWaitMs, &byte) && (byte < 0x40 || byte > 0x7E)) {
  }
}

// Takes the continuation bytes of a UTF-8 character with its lead byte.
void SkipCharacterTail(int fd, unsigned char lead) {
  int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  unsigned char byte;
  while (more-- > 0 && ReadByteWithin(fd, SequenceWaitMs, &byte)) {
  }
}

// One key press, whole: what it leaves in the terminal starts at a key.
void ReadOneKey(int fd) {
  unsigned char byte;
  if (!ReadByteWithin(fd, -1, &byte)) return;
  if (byte == 0x1B) {
    SkipEscapeSequence(fd);
  } else {
    SkipCharacterTail(fd, byte);
  }
}

bool WriteAllTo(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t put = write(fd, text, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    text += put;
    length -= static_cast<std::size_t>(put);
  }
  return true;
}

// Writes text with every "\n" turned into CR LF.
bool WriteText(const char* text, std::size_t length) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != '\n') continue;
    if (!WriteAllTo(STDOUT_FILENO, text + start, i - start) ||
        !WriteAllTo(STDOUT_FILENO, "\r\n", 2)) {
      return false;
    }
    start = i + 1;
  }
  return WriteAllTo(STDOUT_FILENO, text + start, length - start);
}

// Formats into a buffer of its own and hands the text to write.
bool FormatAndWrite(bool (*write_text)(const char*, std::size_t), const char* format,
                    va_list args) {
  char fixed[2048];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(fixed, sizeof fixed, format, args);
  bool result = false;
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof fixed) {
    result = write_text(fixed, static_cast<std::size_t>(length));
  } else if (length >= 0) {
    // Only a long argument (a path typed on the command line) gets here.
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (text != nullptr) {
      std::vsnprintf(text, static_cast<std::size_t>(length) + 1, format, again);
      result = write_text(text, static_cast<std::size_t>(length));
      std::free(text);
    }
  }
  va_end(again);
  return result;
}

// A message goes out in one write where it can, so that it never mixes
// with another program's writes to the same terminal.
bool WriteWarning(const char* text, std::size_t length) {
  return WriteAllTo(STDERR_FILENO, text, length);
}

// Whether the prompt on standard output reaches the terminal the key would
// come from, in its foreground: a prompt sent to a pipe or a file would
// leave the run waiting unseen. Only the controlling terminal answers for
// its foreground group through a descriptor of its own.
bool PromptReachesTerminal() { return tcgetpgrp(STDOUT_FILENO) == getpgrp(); }

}  // namespace

void WaitForKey() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  // A background job is not at the console, and setting the terminal's mode
  // from there would stop it (SIGTTOU); asking for the foreground group
  // would not.
  if (PromptReachesTerminal() && tcgetpgrp(fd) == getpgrp() &&
      tcgetattr(fd, &saved_terminal.mode) == 0) {
    saved_terminal.fd = fd;
    struct sigaction previous[EndingSignalCount];
    CatchEndingSignals(previous);
    if (SetRawMode(fd, saved_terminal.mode)) ReadOneKey(fd);
    tcsetattr(fd, TCSANOW, &saved_terminal.mode);
    RestoreSignals(previous);
  }
  close(fd);
}

bool ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool result = FormatAndWrite(WriteText, format, args);
  va_end(args);
  return result;
}

bool ConsoleWarn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool result = FormatAndWrite(WriteWarning, format, args);
  va_end(args);
  return result;
}

int StatusLineColumns() {
  // Not a terminal, not this process's own (a setsid run), or a background
  // job: a line drawn there would mix into another program's screen.
  if (tcgetpgrp(STDERR_FILENO) != getpgrp()) return 0;
  winsize size;
  // A pseudo-terminal nobody gave a size reports 0 columns.
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

void WriteStatusLine(const char* text, bool stays) {
  // One write, so that the line never shows half drawn: back to the line's
  // start, the text, the rest of the screen erased, and back to the start
  // (or the next line).
  char line[1024];
  const std::size_t room = sizeof line - 8;
  std::size_t length = std::strlen(text);
  if (length > room) length = room;
  line[0] = '\r';
  std::memcpy(line + 1, text, length);
  std::size_t end = 1 + length;
  std::memcpy(line + end, "\x1b[J\r", 4);
  end += 4;
  if (stays) line[end++] = '\n';
  WriteAllTo(STDERR_FILENO, line, end);
}
