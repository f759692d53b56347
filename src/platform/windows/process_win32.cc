// Windows start-up of the process (the arguments in UTF-8), and the
// processors it may use.
#include <cstdint>

#include "platform/process.h"
#include "platform/win32.h"
#include "platform/windows/wide_win32.h"

unsigned CountUsableProcessors() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) {
    return 1;
  }
  unsigned count = 0;
  for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
  return count > 0 ? count : 1;
}

bool IsPlatformHelpSwitch(const char* argument) {
  return argument[0] == '/' && argument[1] == '?' && argument[2] == '\0';
}

// The ZIP holds the man page as text beside the program.
const char* ManualLocation() { return "The manual: dorvane.txt beside dorvane.exe"; }

// The list and the files hashed are opened as kernel handles, which are
// never given the number of a closed standard stream, so console output
// cannot land in them; and Windows has no signal for the file size limit.
// What is left is the arguments: the runtime's come in the ANSI code page,
// which cannot spell every name, so they are taken again from the wide
// command line, split as the shell splits it. They live as long as the
// process. Should that fail, the runtime's stay.
void PrepareProcess(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  const std::size_t pointers = (static_cast<std::size_t>(count) + 1) * sizeof(char*);
  std::size_t bytes = pointers;
  for (int i = 0; i < count; ++i) bytes += NarrowToUtf8(wide[i], nullptr, 0) + 1;
  auto* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
  if (block != nullptr) {
    auto** arguments = reinterpret_cast<char**>(block);
    char* text = block + pointers;
    for (int i = 0; i < count; ++i) {
      arguments[i] = text;
      text += NarrowToUtf8(wide[i], text, block + bytes - text) + 1;
    }
    arguments[count] = nullptr;
    *argc = count;
    *argv = arguments;
  }
  LocalFree(wide);
}
