// Windows implementation of the console output: the C runtime's standard
// output as a text stream.
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

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
