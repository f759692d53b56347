// Windows start-up of the process, and the processors it may use.
#include <windows.h>

#include "platform/process.h"

// The list and the files hashed are opened as kernel handles, which are
// never given the number of a closed standard stream, so console output
// cannot land in them; and Windows has no signal for the file size limit.
void PrepareProcess() {}

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
