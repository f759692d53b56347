// Windows start-up of the process: nothing to prepare.
#include "platform/process.h"

// The list and the files hashed are opened as kernel handles, which are
// never given the number of a closed standard stream, so console output
// cannot land in them; and Windows has no signal for the file size limit.
void PrepareProcess() {}

bool IsPlatformHelpSwitch(const char* argument) {
  return argument[0] == '/' && argument[1] == '?' && argument[2] == '\0';
}

// The ZIP holds the man page as text beside the program.
const char* ManualLocation() { return "The manual: dorvane.txt beside dorvane.exe"; }
