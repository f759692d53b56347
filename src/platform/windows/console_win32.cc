// Windows implementation of the console output: the C runtime's standard
// output as a text stream, and the status line on the console of standard
// error.
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/win32.h"

bool ConsolePrint(const char* format, ...) {
  // Text mode is the runtime's default, but a program linked with binmode
  // or a changed _fmode would write bare LF; the list's readers and the
  // Linux build expect CR LF. The stream is empty here (flushed after every
  // message), so switching its mode loses nothing.
  _setmode(_fileno(stdout), _O_TEXT);
  va_list args;
  va_start(args, format);
  const int length = std::vprintf(format, args);
  va_end(args);
  return std::fflush(stdout) == 0 && length >= 0;
}

int StatusLineColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void WriteStatusLine(const char* text, bool stays) {
  // The console has no "clear to the end of the line" of its own: the text
  // is padded with spaces to the last column but one, which never wraps.
  char line[1024];
  const int room = static_cast<int>(sizeof line) - 4;
  int width = StatusLineColumns() - 1;
  if (width > room) width = room;
  int length = static_cast<int>(std::strlen(text));
  if (length > room) length = room;
  line[0] = '\r';
  std::memcpy(line + 1, text, static_cast<std::size_t>(length));
  int end = 1 + length;
  while (end < 1 + width) line[end++] = ' ';
  if (stays) line[end++] = '\r';
  line[end++] = stays ? '\n' : '\r';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(end), &written, nullptr);
}
