// Windows implementation of the console output: UTF-8 text, shown on a
// console through the wide service, written as bytes anywhere else; the
// status line on the console of standard error, and messages on standard
// error.
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/names.h"
#include "platform/win32.h"

namespace {

// The text for the console: UTF-16 with CR LF line ends; a byte that is no
// UTF-8 (a name from a list in another code page) shows as U+FFFD. out has
// room for 2 units per byte of text and the NUL. Returns the units.
DWORD ConsoleText(const char* text, wchar_t* out) {
  DWORD used = 0;
  while (*text != '\0') {
    std::uint32_t code_point = 0xFFFD;
    const int length = DecodeUtf8(text, &code_point);
    text += length != 0 ? length : 1;
    if (code_point == '\n') out[used++] = L'\r';
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      out[used++] = static_cast<wchar_t>(0xD800 | (code_point >> 10));
      code_point = 0xDC00 | (code_point & 0x3FF);
    }
    out[used++] = static_cast<wchar_t>(code_point);
  }
  out[used] = L'\0';
  return used;
}

// A console shows the wide text whatever its code page; the bytes of UTF-8
// would show right only on one set to UTF-8. length is text's.
bool WriteToConsole(HANDLE console, const char* text, int length) {
  auto* wide = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (2 * length + 1) * sizeof(wchar_t)));
  if (wide == nullptr) return false;
  const DWORD units = ConsoleText(text, wide);
  DWORD done = 0;
  DWORD written = 0;
  while (done < units && WriteConsoleW(console, wide + done, units - done, &written, nullptr) &&
         written > 0) {
    done += written;
  }
  LocalFree(wide);
  return done == units;
}

bool PrintToConsole(HANDLE console, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  bool ok = false;
  auto* text = length < 0 ? nullptr : static_cast<char*>(LocalAlloc(LMEM_FIXED, length + 1));
  if (text != nullptr) {
    std::vsnprintf(text, length + 1, format, again);
    ok = WriteToConsole(console, text, length);
  }
  LocalFree(text);
  va_end(again);
  return ok;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void WriteBytes(HANDLE handle, const char* bytes, DWORD length) {
  DWORD written = 0;
  while (length > 0 && WriteFile(handle, bytes, length, &written, nullptr) && written > 0) {
    bytes += written;
    length -= written;
  }
}

// Erases the rows below the cursor's to the window's bottom: a console
// that rewraps its lines when it is narrowed spreads a status line drawn
// at the old width over them, the cursor staying on its first row.
void EraseRowsBelow(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return;
  const int rows = info.srWindow.Bottom - info.dwCursorPosition.Y;
  if (rows <= 0) return;
  const COORD from = {0, static_cast<SHORT>(info.dwCursorPosition.Y + 1)};
  const DWORD cells = static_cast<DWORD>(rows) * static_cast<DWORD>(info.dwSize.X);
  DWORD done = 0;
  FillConsoleOutputCharacterA(console, ' ', cells, from, &done);
  FillConsoleOutputAttribute(console, info.wAttributes, cells, from, &done);
}

// Redirected output gets the bytes as they are, as on Linux: a file or a
// pipe gets the same bytes from both builds.
bool PrintToStream(FILE* stream, const char* format, va_list args) {
  // Text mode is the runtime's default, but a program linked with binmode
  // or a changed _fmode would write bare LF; the list's readers and the
  // Linux build expect CR LF. The stream is empty here (flushed after every
  // message), so switching its mode loses nothing.
  _setmode(_fileno(stream), _O_TEXT);
  const int length = std::vfprintf(stream, format, args);
  return std::fflush(stream) == 0 && length >= 0;
}

// A console process started without standard output or error (as Wine
// starts one on a pseudo console) writes to its console, as Windows would
// have given it that for them.
bool PrintToOwnConsole(const char* format, va_list args) {
  HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  const bool ok = PrintToConsole(console, format, args);
  CloseHandle(console);
  return ok;
}

bool Print(DWORD which, FILE* stream, const char* format, va_list args) {
  HANDLE output = GetStdHandle(which);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return PrintToOwnConsole(format, args);
  return IsConsole(output) ? PrintToConsole(output, format, args)
                           : PrintToStream(stream, format, args);
}

}  // namespace

bool ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = Print(STD_OUTPUT_HANDLE, stdout, format, args);
  va_end(args);
  return ok;
}

bool ConsoleWarn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = Print(STD_ERROR_HANDLE, stderr, format, args);
  va_end(args);
  return ok;
}

int StatusLineColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void WriteStatusLine(const char* text, bool stays) {
  // The console has no "clear to the end of the line" of its own: the text
  // is padded with spaces to the last column but one, which never wraps,
  // and the cursor goes back to the line's start.
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
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
  EraseRowsBelow(console);
  WriteBytes(console, line, static_cast<DWORD>(end));
}
