// Windows implementation of the closing key wait: key events read from
// the console itself.
#include "platform/console.h"
#include "platform/win32.h"

namespace {

// Keys that end the wait: any that yields a character, and the function,
// arrow and editing keys. Modifier and lock keys alone do not.
bool EndsWait(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
    return false;
  }
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  if (key.uChar.AsciiChar != 0) return true;
  const WORD code = key.wVirtualKeyCode;
  return (code >= VK_PRIOR && code <= VK_DOWN) || code == VK_INSERT ||
         code == VK_DELETE || (code >= VK_F1 && code <= VK_F24);
}

// Whether the prompt reaches the console: standard output is the console,
// or there is none and the console takes the output in its place (see
// console_win32.cc). Output to a pipe or a file would leave the run
// waiting unseen.
bool PromptReachesConsole() {
  DWORD mode = 0;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) return GetConsoleMode(output, &mode);
  HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  const bool reaches = GetConsoleMode(console, &mode);
  CloseHandle(console);
  return reaches;
}

}  // namespace

void WaitForKey() {
  if (!PromptReachesConsole()) return;
  // The console itself, not standard input, so a redirected input cannot
  // end the wait.
  HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode) && SetConsoleMode(console, 0)) {
    INPUT_RECORD record;
    DWORD count = 0;
    while (ReadConsoleInputA(console, &record, 1, &count) && count == 1 &&
           !EndsWait(record)) {
    }
    SetConsoleMode(console, mode);
  }
  CloseHandle(console);
}
