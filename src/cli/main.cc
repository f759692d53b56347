// Program entry: banner, arguments, mode, list file, closing prompt.
#include "cli/driver.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  PrepareProcess(&argc, &argv);
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
  // One kernel for the whole run, chosen from what the processor offers.
  const Md5LaneKernel* kernel = ChooseMd5LaneKernel();
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
    if (!RunTest(list_file, kernel)) exit_code = 1;
    CloseHandle(list_file);
  } else {
    bool ok = RunListing(mode, list_file, argc > 3 ? argv[3] : nullptr, kernel);
    // Closing may report a write that the system had held back.
    if (!CloseHandle(list_file)) ok = false;
    if (!ok) {
      ConsolePrint("cannot write file\n");
      exit_code = 1;
    }
  }
  ConsolePrint("press any key to continue...");
  WaitForKey();
  ConsolePrint("\n");
  return exit_code;
}
