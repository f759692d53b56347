// Program entry: banner, arguments, mode, list file, closing prompt.
#include "cli/driver.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  PrepareProcess();
  ConsolePrint("Dorvane developers 2026 MD5 checksum generator\n\n");
  if (argc < 3) {
    PrintUsage();
    return 1;
  }
  const RunMode mode = ModeFromCommand(argv[1]);
  if (mode == ModeNone) {
    PrintUsage();
    return 1;
  }
  // One kernel and thread count for the whole run, chosen from what the
  // processor and the process's limits offer.
  const HashPlan plan = ChooseHashPlan();
  HANDLE list_file = OpenListFile(argv[2], mode);
  if (list_file == INVALID_HANDLE_VALUE) {
    ConsolePrint("cannot %s file\n", mode == ModeTest ? "open" : "create");
    WaitForKey();
    return 1;
  }
  // A list that cannot be read to its end, or a report that cannot be
  // written whole, is no clean pass, and a list that could not be written
  // whole is no list.
  int exit_code = 0;
  if (mode == ModeTest) {
    if (!RunTest(list_file, plan)) exit_code = 1;
    CloseHandle(list_file);
  } else {
    bool no_handle = false;
    bool ok = RunListing(mode, list_file, argc > 3 ? argv[3] : nullptr, plan,
                         &no_handle);
    // Closing may report a write that the system had held back.
    if (!CloseHandle(list_file)) ok = false;
    if (!ok) {
      // A list that misses what could not be opened is no list either.
      ConsolePrint(no_handle ? "too many open files\n" : "cannot write file\n");
      exit_code = 1;
    }
  }
  ConsolePrint("press any key to continue...");
  WaitForKey();
  ConsolePrint("\n");
  return exit_code;
}
