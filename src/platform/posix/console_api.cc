// POSIX implementation of the console: the controlling terminal as console
// input, and standard output as a text stream.
// WARNING: generic POSIX code only.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/console.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/win32_posix.h"

namespace {

// How long the rest of an escape sequence or of a multi-byte character may
// take to follow its first byte.
constexpr int SequenceWaitMs = 30;

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

// Maps the final byte of "ESC [ ... x" or "ESC O x" to a key code.
WORD SequenceKey(unsigned char final, int number) {
  switch (final) {
    case 'A': return VK_UP;
    case 'B': return VK_DOWN;
    case 'C': return VK_RIGHT;
    case 'D': return VK_LEFT;
    case 'H': return VK_HOME;
    case 'F': return VK_END;
    case '~':
      if (number == 1 || number == 7) return VK_HOME;
      if (number == 2) return VK_INSERT;
      if (number == 3) return VK_DELETE;
      if (number == 4 || number == 8) return VK_END;
      if (number == 5) return VK_PRIOR;
      if (number == 6) return VK_NEXT;
      return VK_F1;
    default: return VK_F1;
  }
}

// Reads the rest of an escape sequence; a lone ESC is the Escape key.
void ReadEscapeSequence(int fd, KEY_EVENT_RECORD* key) {
  unsigned char byte;
  key->uChar.AsciiChar = 0x1B;
  key->wVirtualKeyCode = VK_ESCAPE;
  if (!ReadByteWithin(fd, SequenceWaitMs, &byte)) return;
  if (byte != '[' && byte != 'O') return;
  int number = 0;
  while (ReadByteWithin(fd, SequenceWaitMs, &byte)) {
    if (byte >= '0' && byte <= '9') number = number * 10 + (byte - '0');
    if (byte >= 0x40 && byte <= 0x7E) {
      key->uChar.AsciiChar = 0;
      key->wVirtualKeyCode = SequenceKey(byte, number);
      return;
    }
  }
}

// Takes the continuation bytes of a UTF-8 character with its lead byte.
void ReadCharacterTail(int fd, unsigned char lead) {
  int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  unsigned char byte;
  while (more-- > 0 && ReadByteWithin(fd, SequenceWaitMs, &byte)) {
  }
}

int WriteAll(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t put = write(STDOUT_FILENO, text, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return 0;
    text += put;
    length -= static_cast<std::size_t>(put);
  }
  return 1;
}

// Writes text with every "\n" turned into CR LF.
int WriteText(const char* text, std::size_t length) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] != '\n') continue;
    if (!WriteAll(text + start, i - start) || !WriteAll("\r\n", 2)) return 0;
    start = i + 1;
  }
  return WriteAll(text + start, length - start);
}

}  // namespace

HANDLE OpenConsoleInput() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  PosixHandle* handle = new (std::nothrow) PosixHandle{fd, true};
  if (handle == nullptr) close(fd);
  return handle == nullptr ? INVALID_HANDLE_VALUE : handle;
}

BOOL GetConsoleMode(HANDLE console, DWORD* mode) {
  PosixHandle* handle = HandleOf(console);
  termios settings;
  if (handle == nullptr || !handle->is_console ||
      tcgetattr(handle->fd, &settings) != 0) {
    return FALSE;
  }
  *mode = ((settings.c_lflag & ISIG) != 0 ? ENABLE_PROCESSED_INPUT : 0) |
          ((settings.c_lflag & ICANON) != 0 ? ENABLE_LINE_INPUT : 0) |
          ((settings.c_lflag & ECHO) != 0 ? ENABLE_ECHO_INPUT : 0);
  return TRUE;
}

// Changes only ISIG, ICANON and ECHO; TCSANOW keeps typed-ahead input.
BOOL SetConsoleMode(HANDLE console, DWORD mode) {
  PosixHandle* handle = HandleOf(console);
  termios settings;
  if (handle == nullptr || !handle->is_console ||
      tcgetattr(handle->fd, &settings) != 0) {
    return FALSE;
  }
  const auto set = [&settings](tcflag_t flag, bool on) {
    settings.c_lflag = on ? (settings.c_lflag | flag) : (settings.c_lflag & ~flag);
  };
  set(ISIG, (mode & ENABLE_PROCESSED_INPUT) != 0);
  set(ICANON, (mode & ENABLE_LINE_INPUT) != 0);
  set(ECHO, (mode & ENABLE_ECHO_INPUT) != 0);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(handle->fd, TCSANOW, &settings) == 0;
}

BOOL ReadConsoleInputA(HANDLE console, INPUT_RECORD* records, DWORD length,
                       DWORD* read_count) {
  PosixHandle* handle = HandleOf(console);
  *read_count = 0;
  unsigned char byte;
  if (handle == nullptr || !handle->is_console || length == 0 ||
      !ReadByteWithin(handle->fd, -1, &byte)) {
    return FALSE;
  }
  INPUT_RECORD& record = records[0];
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = 0;
  record.Event.KeyEvent.uChar.AsciiChar = static_cast<CHAR>(byte);
  if (byte == 0x1B) {
    ReadEscapeSequence(handle->fd, &record.Event.KeyEvent);
  } else {
    ReadCharacterTail(handle->fd, byte);
  }
  *read_count = 1;
  return TRUE;
}

int ConsolePrint(const char* format, ...) {
  char fixed[2048];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(fixed, sizeof fixed, format, args);
  va_end(args);
  int result = 0;
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof fixed) {
    result = WriteText(fixed, static_cast<std::size_t>(length));
  } else if (length >= 0) {
    // Only a long argument (a path typed on the command line) gets here.
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (text != nullptr) {
      std::vsnprintf(text, static_cast<std::size_t>(length) + 1, format, again);
      result = WriteText(text, static_cast<std::size_t>(length));
      std::free(text);
    }
  }
  va_end(again);
  return result;
}
